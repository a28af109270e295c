#pragma once

// Hand-built criterion files for the tests: bytes written the way the
// family's tools lay them out, independent of the module's own encoder.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "criterion_file/fzy_io.h"
#include "host/HostState.h"
#include "support/RecordingUi.h"
#include "testing/TempDir.h"

namespace vark::test {

inline std::string I16(std::int16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

inline std::string Dbl(double v) {
    char raw[8];
    std::memcpy(raw, &v, 8);
    return std::string(raw, 8);
}

/// A text as stored: 16-bit count, then the bytes (already Windows-1252).
inline std::string Txt(const std::string& bytes) {
    return I16(static_cast<std::int16_t>(bytes.size())) + bytes;
}

inline std::string Header(std::int16_t kind1, std::int16_t kind2, std::int16_t deleted) {
    return I16(1) + I16(kind1) + I16(kind2) + I16(deleted) + std::string(15, '\0');
}

/// A record: RecordLength (computed) + kind + body.
inline std::string Record(std::int16_t kind, const std::string& body) {
    return I16(static_cast<std::int16_t>(4 + body.size())) + I16(kind) + body;
}

inline std::string Kind2Body(const std::string& name, const std::string& alias,
                             const std::string& path, const std::string& layer, double created,
                             std::int16_t code = 999, double a = 0, double b = 0, double c = 0,
                             double d = 0) {
    return Txt(name) + I16(code) + Txt(alias) + Dbl(a) + Dbl(b) + Dbl(c) + Dbl(d) + Txt(path) +
           Txt(layer) + Dbl(created) + I16(99);
}

inline std::string Kind2(const std::string& name, const std::string& alias = "alias",
                         std::int16_t kind = 2, double created = 45306.5) {
    return Record(kind, Kind2Body(name, alias, "/data", "parcelles", created));
}

inline std::string Kind1Body(const std::string& name, std::int16_t n,
                             const std::array<std::string, 9>& t, double date) {
    std::string body = Txt(name) + I16(n);
    for (const auto& s : t) {
        body += Txt(s);
    }
    return body + Dbl(date);
}

inline std::string Kind1(const std::string& name, const std::string& tag = "t",
                         std::int16_t kind = 1) {
    std::array<std::string, 9> t;
    for (std::size_t i = 0; i < t.size(); ++i) {
        t[i] = tag + std::to_string(i + 1);
    }
    return Record(kind, Kind1Body(name, 7, t, 45306.5));
}

/// Fresh module state, recorded message boxes, a temporary workspace folder,
/// the "C" conventions for numbers and dates, no application.
class FzyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFzyState();
        setenv("LC_ALL", "C", 1);
        g_pApplication().reset();
    }
    void TearDown() override {
        ResetFzyState();
        g_pApplication().reset();
    }

    std::string folder() const { return dir.path().string(); }
    std::string fzy(const std::string& layer) const { return dir.file(layer + ".fzy"); }

    /// Opens the criterion file of `layer` in the temporary folder.
    void Open(std::string layer) {
        std::string path = folder();
        fzy_io_open(path, layer);
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const auto& call : ui->messages()) {
            out.push_back(call.prompt);
        }
        return out;
    }

    TempDir dir;
    ScopedRecordingUi ui;
};

}  // namespace vark::test
