#pragma once

// Set-up of the batch command tests: real data sets written with GDAL in a
// temporary folder, the text store in French, the error log in the folder,
// and a way to run a subcommand as the program does and keep what it says.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BatchCommands.h"
#include "testing/TempDir.h"

namespace vark::test {

namespace fs = std::filesystem;

using Natures = std::vector<std::optional<std::string>>;

/// The bundled sample folder (data/sample).
fs::path SampleFolder();
/// Copies the sample shapefile (all its files) into `folder`.
fs::path CopySampleShapefile(const fs::path& folder);
/// The sample, from its GeoJSON, as a GeoPackage (it keeps null and empty
/// texts apart; the shapefile cannot).
fs::path SampleGeoPackage(const fs::path& folder);

/// Writes a polygon layer `layer` with one text field NATURE (null for
/// nullopt) to `path` with the GDAL driver `driver` and its layer creation
/// options `layerOptions`, adding the layer to the data set when it exists.
void WriteNatures(const fs::path& path, const std::string& driver, const Natures& natures,
                  const std::string& layer = "parcelles",
                  const std::vector<std::string>& layerOptions = {});

/// How a test shapefile declares the encoding of its texts.
enum class Declared {
    kNothing,                 ///< no .cpg, code page byte 0: the texts are stored as given
    kCodePageByte,            ///< code page byte 0x57 ("ANSI"): the texts are stored as given
    kCpg1252,                 ///< a .cpg saying "1252": the texts are stored as given
    kCpgUtf8AndCodePageByte,  ///< a .cpg saying "UTF-8" and code page byte 0x57
};
/// Writes the shapefile `path` as WriteNatures does, declaring its encoding
/// as `declared` says.
void WriteDeclaredNatures(const fs::path& path, const Natures& natures, Declared declared);

/// Every feature's value of `field` by a fresh GDAL open (nullopt: null).
std::vector<std::optional<double>> ReadDoubles(const fs::path& path, const std::string& field);
/// The attribute fields of the layer named after the file, as GDAL lists them.
std::vector<std::string> ReadFieldNames(const fs::path& path);
/// The criterion file's bytes with the creation dates of its kind-2
/// records zeroed, so that two runs compare byte for byte.
std::string WithoutDates(std::string fzy);

/// What one run printed and returned.
struct BatchRun {
    int status = -1;
    std::string out;
    std::string err;
};

class BatchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Runs `subcommand` as the program does (no progress bar).
    BatchRun Run(const std::string& subcommand, const std::vector<std::string>& args,
                 std::function<void(host::Application&)> prepare = {});

    std::string Log() const;
    static std::string Text(int n);

    TempDir m_dir;
};

}  // namespace vark::test
