#include "BatchErrors.h"

#include "BatchCommands.h"
#include "Suggestions.h"
#include "criterion_file/FzyLayout.h"
#include "host/ogr/OgrApplication.h"
#include "support/ErrorHandling.h"
#include "text_store/clsResourceMDB.h"

namespace vark::app {

namespace {

constexpr std::int32_t kFileAlreadyExists = 58;

/// The first "quoted" text of a description: the file or object the
/// failure names, by the habit of the component's messages.
std::optional<std::string> QuotedObject(const std::string& description) {
    const std::size_t open = description.find('"');
    if (open == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t close = description.find('"', open + 1);
    if (close == std::string::npos || close == open + 1) {
        return std::nullopt;
    }
    return description.substr(open + 1, close - open - 1);
}

std::string WithoutCrLf(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

std::string Said(std::int32_t number, std::string_view english,
                 std::initializer_list<std::string> args) {
    std::string text;
    try {
        text = gTextStore().ResourceString(number);
    } catch (...) {
    }
    if (text.empty()) {
        text = english;
    }
    // Right to left, so that %1 does not eat the start of %10.
    std::size_t index = args.size();
    for (auto arg = std::rbegin(args); arg != std::rend(args); ++arg, --index) {
        const std::string mark = "%" + std::to_string(index);
        for (std::size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + arg->size())) {
            text.replace(at, mark.size(), *arg);
        }
    }
    return text;
}

std::string ErrorWord() {
    return Said(clitext::kErrorPrefix, "error:");
}

std::string DidYouMean(const std::vector<std::string>& names) {
    if (names.empty()) {
        return {};
    }
    return Said(clitext::kDidYouMean, "Did you mean %1?",
                {JoinNames(names, Said(clitext::kOr, "or"))});
}

std::string PlainSentence(const Failure& failure, std::string_view subcommand) {
    const std::optional<std::string> object = QuotedObject(failure.description());
    if (failure.number() == fzy::kDamagedFileError && object) {
        return Said(clitext::kDamagedCriterionFile,
                    "the criterion file %1 is damaged; it was left unchanged. To keep its "
                    "readable records: vark-fuzzy repair-fzy %1",
                    {*object});
    }
    if (failure.number() == err::kPermissionDenied && object) {
        return Said(clitext::kAccessDenied,
                    "access to %1 was denied: check the permissions of this file and of its "
                    "folder.",
                    {*object});
    }
    if (failure.number() == kFileAlreadyExists && object) {
        return Said(clitext::kDamagedCopyExists,
                    "%1 already exists (the copy of an earlier repair): move it away, then "
                    "repair again. Nothing was changed.",
                    {*object});
    }
    if (failure.number() == err::kFileNotFound && object) {
        return Said(clitext::kNoSuchFile, "there is no file %1.", {*object});
    }
    std::string log;
    try {
        log = ErrorLogFile();
    } catch (...) {
    }
    // The failure's own words follow: they name the cause (a system's or a
    // driver's message) in the language they were given in.
    return Said(clitext::kCommandFailed,
                "the command %1 failed. The full report is in the log %2; --verbose shows it "
                "here.",
                {std::string(subcommand), log}) +
           "\n  " + WithoutCrLf(failure.description());
}

void ThrowOpenFailure(const Failure& failure, const std::string& dataset,
                      const std::string& layerName) {
    if (!layerName.empty()) {
        std::vector<std::string> layers;
        try {
            auto application = ogr::CreateOgrApplication();
            ogr::AddDataSource(*application, {dataset, {}});
            auto map = application->GetDocument()->GetFocusMap();
            for (std::int32_t i = 0; i < map->GetLayerCount(); ++i) {
                layers.push_back(map->GetMapLayer(i)->GetLayerName());
            }
        } catch (...) {
            layers.clear();
        }
        if (!layers.empty()) {
            const std::vector<std::string> near = NearestNames(layerName, layers);
            const std::string hint = near.empty()
                                         ? Said(clitext::kItsLayers, "Its layers: %1.",
                                                {JoinNames(layers, Said(clitext::kOr, "or"))})
                                         : DidYouMean(near);
            throw PlainError(Said(clitext::kNoSuchLayer, "the data set %1 has no layer %2.",
                                  {ogr::WithoutPassword(dataset), layerName}) +
                                 " " + hint,
                             failure);
        }
    }
    throw PlainError(Said(clitext::kCannotOpenDataSet,
                          "cannot open the data set %1: check its path and its format.",
                          {ogr::WithoutPassword(dataset)}),
                     failure);
}

int TellFailure(std::ostream& err, const std::string& sentence,
                const std::optional<Failure>& failure, const ReportPlace& place,
                bool verbose) noexcept {
    try {
        err << "vark-fuzzy: " << ErrorWord() << ' ' << sentence << '\n';
        if (failure) {
            const std::string report = HandleError(*failure, place.module, place.procedure, false,
                                                   0, place.extra, 0, true);
            if (verbose) {
                err << WithoutCrLf(report);
            }
        }
        err.flush();
    } catch (...) {
    }
    return kExitFailure;
}

}  // namespace vark::app
