// The hive file: any bytes are read without fault, and what is written of
// a hive read once is a hive again, written back byte for byte the same.

#include "registryhive.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RegistryHive hive;
    if (!hive.parse(bytes)) return 0;
    for (const RegistryKey& key : hive.keys()) {
        hive.keyExists(key.path);
        for (const RegistryValue& value : key.values) {
            if (value.form == RegistryValue::Form::Verbatim) continue;
            hive.textOf(value);
            hive.findValue(key.path, value.name);
        }
    }
    hive.findValue("HKEY_LOCAL_MACHINE\\Software\\Vortagon\\Quillora-Engine", "Engine-Version");
    const std::string written = hive.serialise();
    RegistryHive again;
    if (!again.parse(written)) std::abort();
    if (again.serialise() != written) std::abort();
    return 0;
}
