#pragma once

// The behaviour every host adapter owes the component, written once and run
// over each adapter. An adapter joins the suite with one line in any source
// file linked into host_contract_test:
//
//   VARK_REGISTER_HOST_ADAPTER(MyAdapterUnderTest);
//
// where MyAdapterUnderTest derives from AdapterUnderTest.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace vark::host::contract {

/// One feature of the standard data set; nullopt is a null value.
struct ParcelRow {
    std::optional<std::string> nature;
    std::optional<std::string> code;
    std::optional<double> surf;
};

/// The standard data set: layer "parcels" (polygons) with the text fields
/// NATURE and CODE and the double field SURF, holding nulls and empty texts.
const std::vector<ParcelRow>& StandardParcels();

/// What distinguishes one adapter's view of the standard data set.
struct AdapterTraits {
    std::string oidName;       ///< name of the object-id field
    std::string geometryName;  ///< name of the geometry field
    std::int32_t workspaceType = kWorkspaceFileSystem;
    bool nullTextReadsEmpty = false;  ///< the format cannot hold a null text
    bool transactional = false;       ///< an update cursor dropped without Flush rolls back
    bool exactReals = true;           ///< doubles come back bit for bit
};

class AdapterUnderTest {
public:
    virtual ~AdapterUnderTest() = default;
    virtual AdapterTraits traits() const = 0;
    /// Stores the standard data set under `folder` (empty, removed after the
    /// test) and returns an application whose focus map holds it as its only
    /// layer, named "parcels".
    virtual std::shared_ptr<Application> create(const std::filesystem::path& folder) = 0;
    /// An application that reads the same data afresh (what a later session
    /// would see), with the layer "parcels" in its focus map.
    virtual std::shared_ptr<Application> reopen() = 0;
    /// The path GetWorkspacePath should give for the data made in `folder`.
    virtual std::string expectedWorkspacePath(const std::filesystem::path& folder) const = 0;
};

using AdapterFactory = std::function<std::unique_ptr<AdapterUnderTest>()>;

struct RegisteredAdapter {
    std::string name;
    AdapterFactory factory;
};

bool RegisterAdapter(std::string name, AdapterFactory factory);
const std::vector<RegisteredAdapter>& RegisteredAdapters();

}  // namespace vark::host::contract

#define VARK_REGISTER_HOST_ADAPTER(Type)                \
    static const bool vark_contract_registered_##Type = \
        ::vark::host::contract::RegisterAdapter(#Type, [] { return std::make_unique<Type>(); })
