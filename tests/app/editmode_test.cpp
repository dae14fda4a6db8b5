// The edit mode's controller over the disc contents of the test disc, with
// the grid's titles as the main window sets them.

#include "discfixture.h"
#include "editmode.h"
#include "engine.h"
#include "imagecache.h"

#include <gtest/gtest.h>

using Key = EditModeController::GridKey;
using Outcome = EditModeController::KeyOutcome;

namespace {

constexpr int kIssue = 1;
constexpr int kMedium = 3;

class EditModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        archive::clearImageCache();
        table.databaseName = disc.dataPath;
        table.tableName = std::string(archive::discView().copiedFileName);
        table.setReadOnly(false);
        table.open();
        const auto fields = archive::discView().fields;
        for (size_t column = 0; column < fields.size(); ++column)
            table.setDisplayLabel(static_cast<int>(column), std::string(fields[column].gridTitle));
    }
    std::string cell(int record, int column) const { return std::string(table.text(record, column)); }

    DiscFixture disc;
    archive::Table table;
    EditModeController editMode{table};
};

}  // namespace

TEST_F(EditModeTest, KeysOnTheGrid) {
    struct Case {
        const char* name;
        int record;  // the current row before the key
        Key key;
        bool ctrl;
        Outcome outcome;
        archive::TableState state;  // after the key
    };
    const Case cases[] = {
        {"Insert inserts", 0, Key::Insert, false, Outcome::ShowNewRow, archive::TableState::Insert},
        {"Down on the last row appends", 3, Key::Down, false, Outcome::ShowNewRow, archive::TableState::Insert},
        {"Down elsewhere is the grid's", 1, Key::Down, false, Outcome::NotHandled, archive::TableState::Browse},
        {"Ctrl+Delete asks first", 1, Key::Delete, true, Outcome::ConfirmDelete, archive::TableState::Browse},
        {"Delete alone is the grid's", 1, Key::Delete, false, Outcome::NotHandled, archive::TableState::Browse},
        {"Escape", 1, Key::Escape, false, Outcome::Handled, archive::TableState::Browse},
        {"other keys", 1, Key::Other, false, Outcome::NotHandled, archive::TableState::Browse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        table.cancel();
        table.moveTo(c.record);
        EXPECT_EQ(editMode.key(c.key, c.ctrl), c.outcome);
        EXPECT_EQ(table.state(), c.state);
    }
    // A second Down while a row is being inserted appends no other; Escape drops
    // the new row, and so does losing the focus while it is untouched.
    table.cancel();
    table.moveTo(3);
    ASSERT_EQ(editMode.key(Key::Down, false), Outcome::ShowNewRow);
    EXPECT_EQ(editMode.key(Key::Down, false), Outcome::NotHandled);
    EXPECT_EQ(editMode.key(Key::Escape, false), Outcome::Handled);
    EXPECT_EQ(table.recordCount(), 4);
    ASSERT_EQ(editMode.key(Key::Insert, false), Outcome::ShowNewRow);
    editMode.focusLost();
    EXPECT_EQ(table.state(), archive::TableState::Browse);
    EXPECT_EQ(table.recordCount(), 4);
    table.close();
    EXPECT_EQ(editMode.key(Key::Insert, false), Outcome::NotHandled);
}

TEST_F(EditModeTest, AClickStepsTheMediumAndLeavingACompletesTheIssue) {
    // CD -> CD/DVD -> DVD -> CD, in any letter case; another column does nothing.
    const char* const steps[][2] = {{"CD", "CD/DVD"}, {"DVD", "CD"}, {"CD/DVD", "DVD"}, {"cd", "CD/DVD"}};
    for (int record = 0; record < 4; ++record) {
        table.moveTo(record);
        EXPECT_EQ(cell(record, kMedium), steps[record][0]);
        EXPECT_TRUE(editMode.cellClicked(archive::discView(), kMedium));
        EXPECT_EQ(cell(record, kMedium), steps[record][1]);
        table.cancel();
    }
    table.moveTo(0);
    EXPECT_FALSE(editMode.cellClicked(archive::discView(), kIssue));
    EXPECT_EQ(table.state(), archive::TableState::Browse);

    table.setFieldText(kIssue, "4/09");
    const auto completed = editMode.columnLeft(archive::discView(), kIssue);
    ASSERT_TRUE(completed);
    EXPECT_FALSE(completed->refused);
    EXPECT_EQ(cell(0, kIssue), "2004/09");
    table.setFieldText(kIssue, "");
    const auto refused = editMode.columnLeft(archive::discView(), kIssue);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->refused);
    EXPECT_FALSE(editMode.columnLeft(archive::discView(), 0));  // the name has no rule
}
