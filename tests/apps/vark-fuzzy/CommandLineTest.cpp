#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

namespace vark::app {
namespace {

TEST(CommandLineTest, DataSetsAndTheirLayers) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> specs;
    } cases[] = {
        {{}, {}},
        {{"a.shp"}, {{"a.shp", ""}}},
        {{"a.gpkg", "--layer", "parcels", "b.shp"}, {{"a.gpkg", "parcels"}, {"b.shp", ""}}},
        {{"a.gpkg", "--layer", "-odd-", "--", "-file.shp"},
         {{"a.gpkg", "-odd-"}, {"-file.shp", ""}}},
        {{"PG:dbname=gis", "--layer", "public.zones"}, {{"PG:dbname=gis", "public.zones"}}},
    };
    for (const Case& c : cases) {
        const auto specs = ParseDataSources(c.args);
        ASSERT_EQ(specs.size(), c.specs.size());
        for (std::size_t i = 0; i < specs.size(); ++i) {
            EXPECT_EQ(specs[i].path, c.specs[i].first);
            EXPECT_EQ(specs[i].layerName, c.specs[i].second);
        }
    }
}

TEST(CommandLineTest, UsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"--layer", "x"},           // no data set before it
        {"a.gpkg", "--layer"},      // no name
        {"a.gpkg", "--layer", ""},  // empty name would mean "all"
        {"a.gpkg", "--layer", "x", "--layer", "y"},
        {"--bogus"},
    };
    for (const auto& args : cases) {
        EXPECT_THROW(ParseDataSources(args), UsageError) << args.back();
    }
}

TEST(CommandLineTest, SubcommandIsTheFirstWordOnlyWhenKnown) {
    const std::string_view known[] = {"--about", "fields"};
    struct Case {
        std::vector<const char*> argv;
        std::string subcommand;
        std::vector<std::string> args;
    } cases[] = {
        {{"vark-fuzzy"}, "", {}},
        {{"vark-fuzzy", "--about", "a.shp"}, "--about", {"a.shp"}},
        {{"vark-fuzzy", "a.shp", "--about"}, "", {"a.shp", "--about"}},
        {{"vark-fuzzy", "fieldsX"}, "", {"fieldsX"}},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv;
        for (const char* a : c.argv) argv.push_back(const_cast<char*>(a));
        const Invocation invocation = SplitSubcommand(argv, known);
        EXPECT_EQ(invocation.subcommand, c.subcommand);
        EXPECT_EQ(invocation.args, c.args);
    }
}

}  // namespace
}  // namespace vark::app
