#include "core/event_record.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace qm::core {
namespace {

bool Inside(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

TEST(EventRecord, MessageSharesTheRawTextAndSurvivesCopiesAndMoves) {
    // A short line lives inside the string object itself, so a record that
    // pointed into it would read freed or foreign bytes after a move.
    for (const std::string& line : {std::string("<13>hi"), "<13>" + std::string(600, 'm')}) {
        EventRecord e;
        e.SetRaw(line, 4);
        ASSERT_EQ(e.Raw(), line);
        EXPECT_EQ(e.Message(), line.substr(4));
        EXPECT_TRUE(Inside(e.Message(), e.Raw()));

        std::vector<EventRecord> moved;
        for (int i = 0; i < 40; ++i) moved.push_back(e);  // reallocations move the earlier ones
        EventRecord copy = moved.front();
        EventRecord last = std::move(moved.back());
        moved.clear();
        for (const EventRecord* r : {&copy, &last}) {
            EXPECT_EQ(r->Raw(), line);
            EXPECT_EQ(r->Message(), line.substr(4));
            EXPECT_TRUE(Inside(r->Message(), r->Raw()));
        }
    }
}

TEST(EventRecord, TextsThatAreNotPartOfOneAnotherReadBackAsGiven) {
    EventRecord e;
    // A message that is not a byte-identical part of the raw text (a
    // conversion changed it, or a record made by hand) is kept as it is.
    e.SetTexts("<14>Gr\xfc\xdf", "Grüß");
    EXPECT_EQ(e.Raw(), "<14>Gr\xfc\xdf");
    EXPECT_EQ(e.Message(), "Grüß");

    // One that is shared, also when it is not the tail.
    e.SetTexts("<14>ab|cd", "ab");
    EXPECT_EQ(e.Raw(), "<14>ab|cd");
    EXPECT_EQ(e.Message(), "ab");
    EXPECT_TRUE(Inside(e.Message(), e.Raw()));

    // Replacing the texts by views of the record's own texts.
    e.SetTexts("", e.Message());
    EXPECT_EQ(e.Raw(), "");
    EXPECT_EQ(e.Message(), "ab");

    e.SetMessage("Служба запущена");
    EXPECT_EQ(e.Raw(), "");
    EXPECT_EQ(e.Message(), "Служба запущена");

    e.SetRaw("<13>", 4);  // a line without a message
    EXPECT_EQ(e.Raw(), "<13>");
    EXPECT_EQ(e.Message(), "");
    e.SetRaw("<13>x", 99);
    EXPECT_EQ(e.Message(), "");
    e.SetTexts("<13>x", "");
    EXPECT_EQ(e.Message(), "");
}

}  // namespace
}  // namespace qm::core
