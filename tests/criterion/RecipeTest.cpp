// The recipe's JSON: what it keeps, and what its reader refuses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "criterion/CriterionComputation.h"
#include "criterion/Recipe.h"
#include "support/Failure.h"
#include "testing/TempDir.h"

namespace vark {
namespace {

using ::testing::HasSubstr;

Recipe Sample() {
    Recipe recipe;
    recipe.layer = "parcelles";
    recipe.sourceField = "NATURE";
    recipe.field = "FZY_NATURE";
    recipe.levels = 7;
    recipe.entries = {{"Forêt", std::nullopt, 6, 1.0, 5},
                      // Undeclared bytes (Windows-1252) kept as they are.
                      {"Étang", std::string("\xC9tang"), 1, static_cast<double>(0.17F), 2},
                      {"", std::nullopt, 4, static_cast<double>(0.67F), 3}};
    recipe.unlisted = 21;
    recipe.empty = 0;
    recipe.nulls = 1;
    recipe.dateUtc = "2026-12-09T14:03:27Z";
    recipe.toolVersion = "10.3.2";
    recipe.runBy = "dialog";
    return recipe;
}

bool Same(const Recipe& a, const Recipe& b) {
    return RecipeToJson(a) == RecipeToJson(b);
}

TEST(Recipe, ABookReadsBackExactlyAndFromItsFile) {
    Recipe other = Sample();
    other.field = "FZY_2";
    const RecipeBook book{{"FZY_NATURE", Sample()}, {"FZY_2", other}};
    const RecipeBook back = RecipeBookFromJson(RecipeBookToJson(book), "test");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_TRUE(Same(back.at("FZY_NATURE"), Sample()));
    EXPECT_EQ(back.at("FZY_NATURE").entries[1].layerText, std::string("\xC9tang"));
    EXPECT_EQ(back.at("FZY_NATURE").entries[1].degree, static_cast<double>(0.17F));
    EXPECT_EQ(RecipeGradesLines(Sample()),
              (std::vector<std::string>{"Forêt->6", "Étang->1", "->4"}));

    test::TempDir dir;
    const std::string path = RecipeFilePath(dir.file("parcelles.fzy"));
    EXPECT_EQ(path, dir.file("parcelles.fzy.json"));
    EXPECT_TRUE(ReadRecipeFile(path).empty());
    WriteRecipeFile(path, book);
    EXPECT_EQ(ReadRecipeFile(path).size(), 2u);
    WriteRecipeFile(path, {});  // an empty book leaves no file
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Recipe, WhatIsNoRecipeIsRefusedWithItsFault) {
    const std::string good = RecipeBookToJson({{"FZY_NATURE", Sample()}});
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    struct Case {
        std::string json;
        const char* fault;
    };
    const Case cases[] = {
        {"", "bad JSON"},
        {"{\"criteria\": {", "bad JSON"},
        {"[1, 2]", "does not say it is one"},
        {replaced("\"format_version\": 1", "\"format_version\": 2"), "format version"},
        {replaced("\"levels\": 7", "\"levels\": \"7\""), "\"levels\" is not a whole number"},
        {replaced("\"levels\": 7", "\"levels\": 4"), "not 3, 5 or 7"},
        {replaced("\"features\": 5", "\"features\": -5"), "\"features\" is not a whole number"},
        {replaced("\"features\": 5", "\"features\": 1e300"), "\"features\" is not a whole number"},
        {replaced("\"degree\": 1", "\"degree\": 2"), "\"degree\" is not a number from 0 to 1"},
        {replaced("\"grade\": 6", "\"grade\": 9"), "\"grade\" is not a whole number from 0 to 6"},
        {replaced("\"value\": \"Forêt\"", "\"value\": 12"), "\"value\" is not a text"},
        {replaced("\"value\": \"Forêt\"", "\"value\": \"" + std::string(5000, 'x') + "\""),
         "longer than 4096 bytes"},
        {replaced("\"layer_bytes\": \"c974616e67\"", "\"layer_bytes\": \"c97\""),
         "not hexadecimal"},
        {replaced("\"field\": \"FZY_NATURE\"", "\"field\": \"OTHER\""), "names another field"},
        {replaced("\"entries\": [", "\"entries\": {\"a\": ["), "bad JSON"},
        {std::string(kMaxRecipeFileBytes + 1, ' '), "larger than"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        try {
            RecipeBookFromJson(c.json, "/data/p.fzy.json");
            ADD_FAILURE() << "accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::kInvalidFileFormat);
            EXPECT_THAT(f.description(), HasSubstr("\"/data/p.fzy.json\" is not a recipe file: "));
            EXPECT_THAT(f.description(), HasSubstr(c.fault));
        }
    }
    // A list of entries longer than a computation takes.
    Recipe many = Sample();
    many.entries.assign(kMaxGradedEntries + 1, Sample().entries[0]);
    EXPECT_THROW(RecipeBookFromJson(RecipeBookToJson({{"FZY_NATURE", many}}), "t"), Failure);
}

}  // namespace
}  // namespace vark
