#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "Suggestions.h"

namespace vark::app {
namespace {

using Names = std::vector<std::string>;

TEST(SuggestionsTest, NearestNamesCaseFirstThenEditDistance) {
    const Names fields = {"NATURE", "COMMUNE", "NATURE_2", "nature", "NOM"};
    struct Case {
        const char* wanted;
        Names candidates;
        Names expected;
    } cases[] = {
        {"nature", fields, {"NATURE", "NATURE_2"}},  // itself never proposed
        {"Nature", fields, {"NATURE", "nature", "NATURE_2"}},
        {"NATUR", fields, {"NATURE", "nature"}},
        {"FZY_NATUR", {"FZY_NATURE", "FZY_PENTE"}, {"FZY_NATURE"}},
        {"comptue", {"fields", "values", "compute", "describe"}, {"compute"}},
        {"Foret", {"Forêt", "forêt", "Bâti"}, {"Forêt", "forêt"}},
        {"ÉTANG", {"Étang", "Lande"}, {"Étang"}},
        {"x", {"y", "xy", "abc"}, {"y", "xy"}},
        {"zzzzzz", fields, {}},
        {"", {"a"}, {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted);
        EXPECT_EQ(NearestNames(c.wanted, c.candidates), c.expected);
    }
    EXPECT_EQ(NearestNames("a", {"b", "c", "d", "e"}, 2), (Names{"b", "c"}));
    EXPECT_EQ(JoinNames({"a", "b", "c"}, "ou"), "a, b ou c");
    EXPECT_EQ(JoinNames({"a"}, "or"), "a");
}

TEST(SuggestionsTest, OnlyAWordThatCannotBeADataSetIsAMistypedSubcommand) {
    const std::string_view known[] = {"--help", "fields", "values", "compute", "describe"};
    EXPECT_EQ(MistypedSubcommand("comptue", known),
              "unknown subcommand comptue; did you mean compute?");
    EXPECT_EQ(MistypedSubcommand("valeus", known),
              "unknown subcommand valeus; did you mean values?");
    for (const char* dataSet : {"parcelles.shp", "data/compute", "PG:compute", "-help", "."}) {
        SCOPED_TRACE(dataSet);
        EXPECT_EQ(MistypedSubcommand(dataSet, known), "");
    }
}

}  // namespace
}  // namespace vark::app
