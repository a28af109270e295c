#pragma once

// The criterion file of a layer (".fzy"): one open file at a time, in module
// state; header counts, kind-2 records written by this tool, kind-1 records
// written by other tools of the family.

#include <cstdint>
#include <memory>
#include <string>

namespace vark {

/// Where the readers put a record's description: the description window's
/// text box, or a plain buffer when there is no window.
class DescriptionTarget {
public:
    virtual ~DescriptionTarget() = default;
    /// Sets the text of the text box (creating the window if needed).
    virtual void SetInfoText(const std::string& text) = 0;
    /// Shows the window modally; returns when the user closes it.
    virtual void Show() = 0;
};

/// Installs the description target (nullptr: a buffer that keeps the text).
void SetDescriptionTarget(std::shared_ptr<DescriptionTarget> target);
DescriptionTarget& CurrentDescriptionTarget();

/// Opens the criterion file of a layer: removes every ".shp" from `layerName`
/// (the caller's variable changes), creates the header when the file is new.
/// Closes a file left open by an earlier open. Throws Failure.
std::int16_t fzy_io_open(std::string& path, std::string& layerName);
std::int16_t fzy_io_close();
/// Appends one kind-2 record at the end of the file. Throws Failure.
std::int16_t fzy_io_addrecord(const std::string& fieldName, const std::string& alias,
                              std::int16_t code, double Val_a, double Val_b, double Val_c,
                              double Val_d, const std::string& workspacePath,
                              const std::string& layerName);
/// `count` bytes from 1-based `position`, decoded from Windows-1252.
std::string fzy_io_readchars(std::int16_t count, std::int16_t position);
bool fzy_io_numberinfo(const std::string& fieldName);
bool fzy_io_recordinfo(const std::string& fieldName, const std::string& unused);
void fzy_io_showinfo();

// Maintenance.
bool fzy_io_check(const std::string& fieldName, const std::string& layerName);
std::int16_t fzy_io_valid(const std::string& layerName, const std::string& workspacePath);
void fzy_io_compressfzy(int fileNumber, const std::string& layerName,
                        const std::string& workspacePath);

/// Path of the criterion file for a workspace path and a layer name (".shp"
/// already removed). Throws Failure for a workspace with no file-system location.
std::string FzyFilePath(const std::string& workspacePath, const std::string& layerName);

}  // namespace vark
