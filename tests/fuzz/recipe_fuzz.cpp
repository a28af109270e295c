// libFuzzer target over the recipe reader: whatever the bytes, the reader
// either refuses them with a Failure or gives a book that writes back as
// JSON it reads again to the same book (nothing it accepts is lost or
// changed on the way).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "criterion/Recipe.h"
#include "support/Failure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    vark::RecipeBook book;
    try {
        book = vark::RecipeBookFromJson(input, "fuzz");
    } catch (const vark::Failure&) {
        return 0;
    }
    const std::string written = vark::RecipeBookToJson(book);
    try {
        const vark::RecipeBook again = vark::RecipeBookFromJson(written, "written");
        if (vark::RecipeBookToJson(again) != written) {
            std::fputs("a book written and read back changed\n", stderr);
            std::abort();
        }
    } catch (const vark::Failure& f) {
        std::fprintf(stderr, "a book written could not be read back: %s\n",
                     f.description().c_str());
        std::abort();
    }
    return 0;
}
