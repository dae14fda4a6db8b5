# Precompiled headers. Most of a translation unit's compile time here goes to
# Qt's and Google Test's headers, read afresh for every file; each header set
# is compiled once and every target of its kind reuses it. Included once all
# folders are configured, it gives each target its set:
#
#   whatever uses Qt           the Qt set
#   Google Test programs       the Google Test set
#
# GCC uses a precompiled header only when the macros it tested and the code
# model flags are the same as where it was made: the Qt set tests no Qt module
# macro but QT_CORE_LIB, which every user defines, and Qt compiles everything
# that uses it position-independent, programs too. A mismatch costs time,
# nothing else: the compiler then reads the headers themselves (all of them
# found through QtCore's folders) and -Winvalid-pch says so.
option(QUILLORA_PCH "Precompile the Qt and Google Test headers" ON)
if(NOT QUILLORA_PCH OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  return()
endif()

set(quillora_pch_std <algorithm> <array> <filesystem> <fstream> <functional> <map> <memory> <optional>
    <span> <stdexcept> <string> <string_view> <vector>)
set(quillora_pch_qt ${quillora_pch_std}
    <QtCore/QAbstractTableModel> <QtCore/QDir> <QtCore/QFile> <QtCore/QString> <QtCore/QTimer>
    <QtGui/QFont> <QtGui/QFontMetrics> <QtGui/QImage> <QtGui/QKeyEvent> <QtGui/QMouseEvent> <QtGui/QPainter>
    <QtGui/QScreen> <QtWidgets/QApplication> <QtWidgets/QComboBox> <QtWidgets/QDialog>
    <QtWidgets/QHeaderView> <QtWidgets/QLabel> <QtWidgets/QLineEdit> <QtWidgets/QMessageBox>
    <QtWidgets/QPushButton> <QtWidgets/QStyledItemDelegate> <QtWidgets/QTableView> <QtWidgets/QWidget>)
set(quillora_pch_gtest ${quillora_pch_std} <gtest/gtest.h>)

# The holders: a library and a program with nothing in them but the header set.
file(WRITE ${CMAKE_BINARY_DIR}/pch/library.cpp "")
file(WRITE ${CMAKE_BINARY_DIR}/pch/program.cpp "int main() { return 0; }\n")
function(quillora_pch_holder name type)
  if(type STREQUAL "library")
    add_library(${name} STATIC ${CMAKE_BINARY_DIR}/pch/library.cpp)
  else()
    add_executable(${name} ${CMAKE_BINARY_DIR}/pch/program.cpp)
  endif()
  set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
  target_precompile_headers(${name} PRIVATE ${ARGN})
endfunction()

if(QUILLORA_BUILD_GUI)
  # Made with QtCore's macro only; every module's headers are found by
  # their module's name through QtCore's include folder.
  quillora_pch_holder(quillora_pch_qt library ${quillora_pch_qt})
  target_link_libraries(quillora_pch_qt PRIVATE Qt6::Core)
endif()
if(QUILLORA_BUILD_TESTS)
  quillora_pch_holder(quillora_pch_gtest program ${quillora_pch_gtest})
  target_link_libraries(quillora_pch_gtest PRIVATE GTest::gtest)
endif()

# Whether a target reaches Qt through the libraries it links.
function(quillora_links_qt target result)
  set(seen)
  set(pending ${target})
  set(found FALSE)
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    if(current MATCHES "^Qt6::")
      set(found TRUE)
      break()
    endif()
    get_target_property(imported ${current} IMPORTED)
    if(imported)
      continue()
    endif()
    get_target_property(type ${current} TYPE)
    set(links)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${current} LINK_LIBRARIES)
    endif()
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    foreach(link IN LISTS links interface)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(link AND NOT link MATCHES "NOTFOUND$")
        list(APPEND pending ${link})
      endif()
    endforeach()
  endwhile()
  set(${result} ${found} PARENT_SCOPE)
endfunction()

function(quillora_pch_targets_in folder)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    if(target MATCHES "^quillora_pch_")
      continue()
    endif()
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    quillora_links_qt(${target} qt)
    get_target_property(links ${target} LINK_LIBRARIES)
    set(holder)
    if(qt AND TARGET quillora_pch_qt)
      set(holder quillora_pch_qt)
    elseif(type STREQUAL "EXECUTABLE" AND links MATCHES "GTest::" AND TARGET quillora_pch_gtest)
      set(holder quillora_pch_gtest)
    endif()
    if(holder)
      target_precompile_headers(${target} REUSE_FROM ${holder})
      # The test programs include their moc output in their own files, which
      # leaves moc's file of the target empty; loading the header set for it
      # would cost a second of the build each.
      get_target_property(automoc ${target} AUTOMOC)
      if(type STREQUAL "EXECUTABLE" AND automoc)
        get_target_property(autogen ${target} AUTOGEN_BUILD_DIR)
        if(NOT autogen)
          get_target_property(binary ${target} BINARY_DIR)
          set(autogen ${binary}/${target}_autogen)
        endif()
        set_source_files_properties(${autogen}/mocs_compilation.cpp TARGET_DIRECTORY ${target}
                                    PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
      endif()
    endif()
  endforeach()
  get_property(folders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS folders)
    quillora_pch_targets_in(${sub})
  endforeach()
endfunction()
quillora_pch_targets_in(${PROJECT_SOURCE_DIR})
