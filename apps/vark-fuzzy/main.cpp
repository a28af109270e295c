// vark-fuzzy: a map application without a map window. It builds a focus map
// from the data sets named on its command line, creates the text-criterion
// command through the component's entry points, hands it the application
// (OnCreate) and clicks it (OnClick), which opens the dialog. Its batch
// subcommands (BatchCommands.h) do the dialog's work without windows.
//
// Exit codes: 0 done, 1 failure, 2 usage error, 3 a field with more than
// 100 values refused, 4 compute: a graded value that no feature holds, 5
// describe found no record of the field.

#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "BatchCommands.h"
#include "BatchErrors.h"
#include "CommandLine.h"
#include "ComponentLoader.h"
#include "host/ComponentIds.h"
#include "host/ComponentInterfaces.h"
#include "host/HostState.h"
#include "host/ogr/OgrApplication.h"
#include "support/Failure.h"
#include "support/LibraryInfo.h"
#include "support/QtUiServices.h"
#include "support/UiServices.h"
#include "text_store/clsResourceMDB.h"

namespace vark::app {

namespace {

constexpr std::string_view kUsageHead =
    "Usage: vark-fuzzy [--lang CODE] [DATASET [--layer NAME]]...\n"
    "       vark-fuzzy --about [DATASET [--layer NAME]]...\n"
    "       vark-fuzzy --help | --version\n";

constexpr std::string_view kUsageBody =
    "\n"
    "Without a subcommand, opens the text-criterion dialog on a focus map that\n"
    "holds the layers of the given data sets (in the language --lang CODE asks\n"
    "for, the saved one left as it is).\n"
    "\n"
    "  DATASET       a file, folder or connection string GDAL can open\n"
    "                (shapefile, GeoPackage, ...); every layer of it is added\n"
    "  --layer NAME  add only the layer NAME of the DATASET just before\n"
    "  --about       print the identity of the command and of the root menu\n"
    "  --help        print this text\n"
    "  --version     print the component's version\n"
    "\n"
    "Subcommands, on one polygon layer (--layer is needed when DATASET has\n"
    "several):\n"
    "  fields        the text fields, then the other fields, as the dialog\n"
    "                lists them (--unit-interval: only fields valued in 0..1)\n"
    "  values        the distinct values of a text field, one per line, in the\n"
    "                dialog's order (at most 100)\n"
    "  compute       adds the criterion field FZY_FIELD (or --name NEW) and\n"
    "                records it in the layer's criterion file; ENTRY is\n"
    "                VALUE->GRADE, GRADE 0 (Exclu) to 6 (Excellent); a grades\n"
    "                FILE holds one ENTRY per line (UTF-8); --levels defaults\n"
    "                to 7. Prints the field's name and the features per entry,\n"
    "                then those left at 0: unlisted, empty, null values.\n"
    "                A graded value no feature holds is refused (exit 4)\n"
    "                unless --allow-unmatched; --replace recomputes an\n"
    "                existing criterion field\n"
    "  describe      the criterion file's description of a field\n"
    "  repair-fzy    keeps the readable records of a damaged criterion file\n"
    "  --lang CODE   texts in that language for this run (fr, en, es, de)\n"
    "  --quiet       no progress bar\n"
    "  --verbose     on a failure, the full report too (it always goes to the log)\n"
    "  SUBCOMMAND --help   that subcommand's own help, with an example\n"
    "\n"
    "Exit status: 0 done, 1 failure, 2 usage error, 3 more than 100 values,\n"
    "4 compute: a graded value that no feature holds, 5 describe: no record\n"
    "of that field.\n";

void printUsage(std::ostream& out) {
    out << BatchUsage(kUsageHead) << Said(clitext::kHelpProgram, kUsageBody);
}

/// What a subcommand gets: its arguments and the process's own argv (for
/// the QApplication).
struct Context {
    Invocation invocation;
    int& argc;
    char** argv;
};

/// The host side of one run: the component, the application and the
/// command. Members are declared so that the command is released before the
/// application it is subscribed to.
struct Session {
    ComponentLibrary library;
    std::shared_ptr<host::Application> application;
    ComponentPtr commandObject{nullptr, nullptr};
    host::ICommand* command = nullptr;

    ~Session() {
        commandObject.reset();
        // The process ends: the host lets go of its application, so that the
        // data sets are closed (and written) while GDAL is still running.
        if (g_pApplication() == application) {
            g_pApplication().reset();
        }
    }
};

std::unique_ptr<Session> startSession(const std::vector<ogr::DataSourceSpec>& dataSources) {
    auto session = std::make_unique<Session>();
    // The component the program is linked with, wherever it was installed.
    session->library = ComponentLibrary::Load(LibraryFolder());
    session->application = ogr::CreateOgrApplication();
    for (const ogr::DataSourceSpec& source : dataSources) {
        try {
            ogr::AddDataSource(*session->application, source);
        } catch (...) {
            ThrowOpenFailure(CurrentFailure(), source.path, source.layerName);
        }
    }
    session->commandObject = session->library.Create(ids::kProgId_clsRequeteText);
    session->command =
        session->library.Query<host::ICommand>(session->commandObject, ids::kIid_ICommand);
    session->command->OnCreate(session->application);
    return session;
}

/// Records the id a menu gives an item.
class ItemRecorder : public host::IItemDef {
public:
    void SetID(const std::string& id) override { m_id = id; }
    void SetGroup(bool) override {}
    void SetSubType(std::int32_t) override {}
    const std::string& id() const { return m_id; }

private:
    std::string m_id;
};

bool displayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

int runHelp(Context& context) {
    // "vark-fuzzy --help --lang de" as "vark-fuzzy --lang de --help".
    const std::vector<std::string>& args = context.invocation.args;
    const auto lang = std::find(args.begin(), args.end(), "--lang");
    if (lang != args.end() && lang + 1 != args.end()) {
        ChooseLanguage(*(lang + 1));
    }
    printUsage(std::cout);
    return kExitOk;
}

int runVersion(Context&) {
    std::cout << "vark-fuzzy " << LibraryFileVersionText() << '\n';
    return kExitOk;
}

int runAbout(Context& context) {
    auto session = startSession(ParseDataSources(context.invocation.args));
    host::ICommand& command = *session->command;
    std::cout << "Name: " << command.Name() << '\n'
              << "Caption: " << command.Caption() << '\n'
              << "Tooltip: " << command.Tooltip() << '\n'
              << "Category: " << command.Category() << '\n';

    ComponentPtr menuObject = session->library.Create(ids::kProgId_menu_requeteur);
    auto* menu = session->library.Query<host::IMenuDef>(menuObject, ids::kIid_IMenuDef);
    std::cout << "Menu caption: " << menu->Caption() << '\n'
              << "Menu name: " << menu->Name() << '\n';
    const std::int32_t count = menu->ItemCount();
    for (std::int32_t position = 0; position < count; ++position) {
        ItemRecorder item;
        const std::int32_t result = menu->GetItemInfo(position, item);
        if (result != 0) {
            throw Failure(result,
                          "The root menu cannot describe its item " + std::to_string(position));
        }
        std::cout << "Menu item " << position << ": " << item.id() << '\n';
    }
    return kExitOk;
}

int runDialog(Context& context) {
    const auto dataSources = ParseDataSources(context.invocation.args);
    if (!displayAvailable()) {
        throw PlainError(Said(clitext::kNeedsDisplay,
                              "the dialog needs a display: set DISPLAY (or QT_QPA_PLATFORM)"));
    }
    QApplication application(context.argc, context.argv);
    // Qt's own texts (the file dialog's buttons) follow the dialog's language.
    SetUi(std::make_shared<QtUiServices>(nullptr, [] { return gTextStore().LanguageCode(); }));
    struct ConsoleUiAgain {
        ~ConsoleUiAgain() { SetUi(nullptr); }
    } restoreUi;
    auto session = startSession(dataSources);
    session->command->OnClick();
    return kExitOk;
}

int runBatch(Context& context) {
    BatchIo io{std::cout, std::cerr, false, {}, false};
    io.progress = isatty(STDERR_FILENO) != 0;
    return RunBatch(context.invocation.subcommand, context.invocation.args, io);
}

struct Subcommand {
    std::string_view word;
    int (*run)(Context&);
};

// The default action has the empty word.
constexpr Subcommand kSubcommands[] = {
    {"", runDialog},          {"--about", runAbout},     {"--help", runHelp},
    {"-h", runHelp},          {"--version", runVersion}, {"fields", runBatch},
    {"values", runBatch},     {"compute", runBatch},     {"describe", runBatch},
    {"repair-fzy", runBatch},
};

int dispatch(int& argc, char** argv) {
    std::vector<std::string_view> words;
    for (const Subcommand& subcommand : kSubcommands) {
        if (!subcommand.word.empty()) {
            words.push_back(subcommand.word);
        }
    }
    Context context{
        SplitSubcommand(std::span<char* const>(argv, static_cast<std::size_t>(argc)), words), argc,
        argv};
    const std::string& word = context.invocation.subcommand;
    if (std::find(std::begin(kBatchSubcommands), std::end(kBatchSubcommands), word) ==
        std::end(kBatchSubcommands)) {
        // The dialog, --about, --help: their errors in the interface
        // language, or in the one a leading --lang asks for ("vark-fuzzy
        // --lang en comptue ..."), which the dialog opens in too. A batch
        // subcommand chooses its own.
        ChooseLanguage(context.invocation.language);
        textStoreState().runLanguage = context.invocation.language.value_or("");
        const std::vector<std::string>& args = context.invocation.args;
        if (word.empty() && !args.empty()) {
            const std::string mistyped = MistypedSubcommand(args.front(), words);
            if (!mistyped.empty()) {
                throw UsageError(mistyped);
            }
        }
    }
    for (const Subcommand& subcommand : kSubcommands) {
        if (subcommand.word == context.invocation.subcommand) {
            return subcommand.run(context);
        }
    }
    throw UsageError("unknown subcommand " + context.invocation.subcommand);
}

}  // namespace

}  // namespace vark::app

int main(int argc, char** argv) {
    // A fixed threshold: every block of 128 KiB or more is mapped on its own
    // and goes back to the system when freed. The default raises the
    // threshold after the first large block is freed, so that a shapefile's
    // index (16 bytes a feature, read whenever GDAL opens the layer) would
    // then stay in the heap beside the next one.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    try {
        return vark::app::dispatch(argc, argv);
    } catch (const vark::app::UsageError& error) {
        std::cerr << "vark-fuzzy: " << vark::app::ErrorWord() << ' ' << error.what() << "\n"
                  << vark::app::BatchUsage(vark::app::kUsageHead) << "  vark-fuzzy --help\n";
        return vark::app::kExitUsage;
    } catch (const vark::app::PlainError& error) {
        vark::app::TellFailure(std::cerr, error.what(), error.cause(), {"vark-fuzzy", "main", {}},
                               false);
        return error.exitStatus();
    } catch (...) {
        try {
            const vark::Failure failure = vark::CurrentFailure();
            std::cerr << "vark-fuzzy: " << vark::app::ErrorWord() << ' ' << failure.description()
                      << '\n';
        } catch (...) {
            std::cerr << "vark-fuzzy: unexpected failure\n";
        }
        return vark::app::kExitFailure;
    }
}
