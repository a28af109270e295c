#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ProgressBar.h"

namespace vark::app {
namespace {

TEST(CommandLineTest, DataSetsAndTheirLayers) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> sources;
    } cases[] = {
        {{}, {}},
        {{"a.shp"}, {{"a.shp", ""}}},
        {{"a.gpkg", "--layer", "parcels", "b.shp"}, {{"a.gpkg", "parcels"}, {"b.shp", ""}}},
        {{"a.gpkg", "--layer", "-odd-", "--", "-file.shp"},
         {{"a.gpkg", "-odd-"}, {"-file.shp", ""}}},
        {{"PG:dbname=gis", "--layer", "public.zones"}, {{"PG:dbname=gis", "public.zones"}}},
    };
    for (const Case& c : cases) {
        const auto sources = ParseDataSources(c.args);
        ASSERT_EQ(sources.size(), c.sources.size());
        for (std::size_t i = 0; i < sources.size(); ++i) {
            EXPECT_EQ(sources[i].path, c.sources[i].first);
            EXPECT_EQ(sources[i].layerName, c.sources[i].second);
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
        {{"vark-fuzzy", "--lang", "de", "--quiet", "fields", "a.shp"},
         "fields",
         {"--lang", "de", "--quiet", "a.shp"}},
        // Not before an option-like word; without a subcommand they are
        // taken off the dialog's data sets.
        {{"vark-fuzzy", "--quiet", "--about"}, "", {"--about"}},
        {{"vark-fuzzy", "--lang", "de", "a.shp"}, "", {"a.shp"}},
        {{"vark-fuzzy", "--lang"}, "", {"--lang"}},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv;
        for (const char* a : c.argv) argv.push_back(const_cast<char*>(a));
        const Invocation invocation = SplitSubcommand(argv, known);
        EXPECT_EQ(invocation.subcommand, c.subcommand);
        EXPECT_EQ(invocation.args, c.args);
        const bool leadingLang = c.argv.size() > 2 && std::string_view(c.argv[1]) == "--lang";
        EXPECT_EQ(invocation.language,
                  leadingLang ? std::optional<std::string>(c.argv[2]) : std::nullopt);
    }
}

TEST(CommandLineTest, BatchOptions) {
    const OptionSpec sources[] = {{"--layer", true}, {"--quiet", false}, {"--grade", true, true}};
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> positionals;
        std::vector<std::pair<std::string, std::string>> options;
    } cases[] = {
        {{"a.shp", "F"}, {"a.shp", "F"}, {}},
        // A value is taken as it is, even when it starts with dashes.
        {{"--grade", "->6", "a.shp", "--grade", "--x->2", "F", "--quiet"},
         {"a.shp", "F"},
         {{"--grade", "->6"}, {"--grade", "--x->2"}, {"--quiet", ""}}},
        {{"a.shp", "--", "--F", "-"}, {"a.shp", "--F", "-"}, {}},
        {{"--layer", "l", "a.gpkg"}, {"a.gpkg"}, {{"--layer", "l"}}},
    };
    for (const Case& c : cases) {
        const ParsedArgs parsed = ParseOptions(c.args, sources);
        EXPECT_EQ(parsed.positionals, c.positionals);
        EXPECT_EQ(parsed.options, c.options);
    }
    const std::vector<std::vector<std::string>> bad = {
        {"a.shp", "--bogus"},
        {"a.shp", "--layer"},
        {"a.shp", "--layer", "x", "--layer", "y"},
        {"a.shp", "--quiet", "--quiet"},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(ParseOptions(args, sources), UsageError) << args.back();
    }
}

TEST(CommandLineTest, GradesFiles) {
    struct Case {
        std::string content;
        std::vector<std::string> entries;
    } cases[] = {
        {"Forêt->6\nLande->0\n", {"Forêt->6", "Lande->0"}},
        {"Forêt->6\r\nLande->0", {"Forêt->6", "Lande->0"}},
        {"\xEF\xBB\xBF"
         "Forêt->6\r\n\r\n\n->4\r\nA->2->5\n",
         {"Forêt->6", "->4", "A->2->5"}},
        {" Forêt ->3\n", {" Forêt ->3"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseGradesText(c.content, "g.txt"), c.entries) << c.content;
    }
    const std::pair<std::string, std::string> bad[] = {
        {"Forêt->6\nLande\n", "g.txt:2"}, {"Forêt->6\n  \n", "g.txt:2"},  {"Forêt->7\n", "g.txt:1"},
        {"Forêt-6\n", "g.txt:1"},         {"For\xEAt->6\n", "not UTF-8"}, {"->\n", "g.txt:1"},
    };
    for (const auto& [content, message] : bad) {
        try {
            ParseGradesText(content, "g.txt");
            ADD_FAILURE() << content;
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

TEST(ProgressBarTest, Lines) {
    EXPECT_EQ(ProgressBar::Render(0, 200), "[..............................]   0 %  0/200");
    EXPECT_EQ(ProgressBar::Render(100, 200), "[###############...............]  50 %  100/200");
    EXPECT_EQ(ProgressBar::Render(250, 200), "[##############################] 100 %  250/200");
    EXPECT_EQ(ProgressBar::Render(4096, -1), "4096");
}

TEST(ProgressBarTest, DrawsNothingWhenOffOrForShortWork) {
    for (bool enabled : {false, true}) {
        std::ostringstream out;
        {
            ProgressBar bar(out, enabled);
            bar.update(1, 10);
            bar.update(10, 10);
        }
        EXPECT_EQ(out.str(), "") << enabled;
    }
}

}  // namespace
}  // namespace vark::app
