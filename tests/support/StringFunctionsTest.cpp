#include <gtest/gtest.h>

#include "support/StringFunctions.h"

namespace vark {
namespace {

TEST(TrimCrLf, TrimsBlanksThenLeadingBreaksThenTrailingBreaks) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"\r\n abc \r\n", "abc "},  // leading CR LF and blank go, the trailing blank stays
        {"  abc  ", "abc"},         // blanks at both ends
        {"\tabc\t", "\tabc\t"},     // tabs are not blanks
        {" \r\n\r\n", ""},          // nothing but breaks
        {"", ""},
        {"a\r\nb", "a\r\nb"},  // inner breaks stay
        {" \n x", "x"},        // blank, LF, blank before the text
        {"x \n ", "x "},       // step 1 takes the last blank, then the LF goes
    };
    for (const auto& c : cases) EXPECT_EQ(TrimCrLf(c.in), c.out) << "input [" << c.in << "]";
}

TEST(GetValueAfterKey, FindsTheValueBetweenKeyAndDelimiter) {
    struct Case {
        std::string source, key, delimiter;
        bool toEnd;
        std::string def, out;
    } cases[] = {
        {"tt=15", "tt=", ",", true, "", "15"},
        {"tt=15", "tt=", ",", false, "", ""},  // no delimiter follows and not to the end
        {"tt=15,3", "tt=", ",", false, "", "15"},
        {"tt= 15 ,3", "tt=", ",", true, "", "15"},
        {"a=1;tt=\r\n7 ", "tt=", "", false, "", "7"},  // empty delimiter: to the end, trimmed
        {"abc", "tt=", ",", true, "dflt", "dflt"},     // key absent
        {"tt=,x", "tt=", ",", true, "dflt", "dflt"},   // empty value
        {"TT=5", "tt=", ",", true, "", ""},            // case-sensitive
        {"x=1,tt=2,tt=3", "tt=", ",", true, "", "2"},  // first occurrence
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetValueAfterKey(c.source, c.key, c.delimiter, c.toEnd, c.def), c.out)
            << "source [" << c.source << "] toEnd " << c.toEnd;
    }
}

}  // namespace
}  // namespace vark
