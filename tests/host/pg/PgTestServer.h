#pragma once

// The throw-away PostgreSQL + PostGIS server of the tests: the program runs
// under pg_virtualenv, which sets PGHOST, PGPORT, PGUSER, PGPASSWORD and
// PGDATABASE; without them every test is skipped.

#include <libpq-fe.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

namespace vark::testing {

/// True when the environment names a server.
bool HaveTestServer();

/// "PG:host=... port=... dbname=... user=... password=..." for `user` and
/// `password` (the environment's by default); the password comes last.
std::string GdalConnection(const std::string& user = {}, const std::string& password = {});
/// The same without its password, as records and messages must show it.
std::string GdalConnectionWithoutPassword(const std::string& user = {});
/// The environment's password.
std::string ServerPassword();
/// The environment's connection string to another database of the server.
std::string GdalConnectionTo(const std::string& database);

/// A libpq session of the test itself (the environment's role).
class TestSession {
public:
    /// To the environment's database, or to `database`.
    explicit TestSession(const std::string& database = {});
    ~TestSession();
    TestSession(const TestSession&) = delete;
    TestSession& operator=(const TestSession&) = delete;

    /// Runs `sql`; fails the test (ADD_FAILURE) and returns "" on an error.
    /// The first column of the first row otherwise ("" for none, "<null>"
    /// for a null).
    std::string exec(const std::string& sql);
    /// Every row's first column.
    std::vector<std::string> column(const std::string& sql);
    /// The backend's process id.
    int pid() const;

private:
    PGconn* m_conn;
};

/// Makes the table "Cadastre"."Parcelles" afresh (PostGIS enabled, the
/// schema emptied): one unit square per value of `values` (the body of an
/// SQL array, such as "'a', NULL"), fid in that order.
void CreateParcelTable(TestSession& session, const std::string& values);
/// The same table named `table` in the schema "Cadastre" as it is, its
/// column "NATURE" of the SQL type `type`.
void AddParcelTable(TestSession& session, const std::string& table, const std::string& values,
                    const std::string& type = "text");

/// md5 of every row of `table` (all columns, the ordering by fid) and of
/// its criterion record ("none" when it has none).
std::string TableHash(TestSession& session, const std::string& schema, const std::string& table);

/// Slows every row's UPDATE of "Cadastre"."Parcelles" (a trigger), then
/// watches, from a session of its own, for the tool's UPDATE and ends its
/// backend (pg_terminate_backend) once seen. The future says whether it was
/// seen within 10 s.
std::future<bool> KillTheNextUpdate(TestSession& session);

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};
/// Runs the vark-fuzzy program with `args` (no shell in between).
ProgramRun RunVarkFuzzy(const std::vector<std::string>& args);

}  // namespace vark::testing
