#include "PgTestServer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace vark::testing {

namespace {

std::string Env(const char* name, const char* fallback = "") {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

}  // namespace

bool HaveTestServer() {
    return !Env("PGHOST").empty() && !Env("PGPASSWORD").empty();
}

std::string ServerPassword() {
    return Env("PGPASSWORD");
}

std::string GdalConnectionWithoutPassword(const std::string& user) {
    return "PG:host=" + Env("PGHOST") + " port=" + Env("PGPORT", "5432") +
           " dbname=" + Env("PGDATABASE", "postgres") +
           " user=" + (user.empty() ? Env("PGUSER") : user);
}

std::string GdalConnection(const std::string& user, const std::string& password) {
    return GdalConnectionWithoutPassword(user) +
           " password=" + (password.empty() ? ServerPassword() : password);
}

std::string GdalConnectionTo(const std::string& database) {
    return "PG:host=" + Env("PGHOST") + " port=" + Env("PGPORT", "5432") + " dbname=" + database +
           " user=" + Env("PGUSER") + " password=" + ServerPassword();
}

TestSession::TestSession(const std::string& database)
    : m_conn(database.empty()
                 ? PQconnectdb("")
                 : PQconnectdbParams(std::array<const char*, 2>{"dbname", nullptr}.data(),
                                     std::array<const char*, 2>{database.c_str(), nullptr}.data(),
                                     0)) {
    if (PQstatus(m_conn) != CONNECTION_OK) {
        ADD_FAILURE() << "cannot connect: " << PQerrorMessage(m_conn);
    }
    PQsetClientEncoding(m_conn, "UTF8");
    PQclear(PQexec(m_conn, "SET client_min_messages = warning"));
}

TestSession::~TestSession() {
    PQfinish(m_conn);
}

std::vector<std::string> TestSession::column(const std::string& sql) {
    PGresult* result = PQexec(m_conn, sql.c_str());
    std::vector<std::string> out;
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        ADD_FAILURE() << sql << ": " << PQerrorMessage(m_conn);
    } else if (status == PGRES_TUPLES_OK) {
        for (int row = 0; row < PQntuples(result); ++row) {
            out.emplace_back(PQgetisnull(result, row, 0) ? "<null>" : PQgetvalue(result, row, 0));
        }
    }
    PQclear(result);
    return out;
}

std::string TestSession::exec(const std::string& sql) {
    const auto rows = column(sql);
    return rows.empty() ? std::string() : rows.front();
}

int TestSession::pid() const {
    return PQbackendPID(m_conn);
}

void CreateParcelTable(TestSession& session, const std::string& values) {
    session.exec("CREATE EXTENSION IF NOT EXISTS postgis");
    session.exec("DROP SCHEMA IF EXISTS \"Cadastre\" CASCADE");
    session.exec("CREATE SCHEMA \"Cadastre\"");
    AddParcelTable(session, "Parcelles", values);
}

void AddParcelTable(TestSession& session, const std::string& table, const std::string& values,
                    const std::string& type) {
    const std::string qualified = "\"Cadastre\".\"" + table + "\"";
    session.exec("CREATE TABLE " + qualified +
                 " (fid serial PRIMARY KEY, geom geometry(Polygon, 2154), \"NATURE\" " + type +
                 ")");
    session.exec("INSERT INTO " + qualified +
                 " (geom, \"NATURE\") SELECT "
                 "ST_GeomFromText('POLYGON((0 0,1 0,1 1,0 1,0 0))', 2154), v FROM unnest(ARRAY[" +
                 values + "]::text[]) WITH ORDINALITY AS u(v, n) ORDER BY n");
}

std::string TableHash(TestSession& session, const std::string& schema, const std::string& table) {
    const std::string qualified = "\"" + schema + "\".\"" + table + "\"";
    const std::string rows = session.exec(
        "SELECT md5(string_agg(t::text, '|' ORDER BY t.fid)) FROM " + qualified + " t");
    const std::string store = "\"" + schema + "\".vark_criteria";
    const std::string hasStore = session.exec("SELECT to_regclass('" + store + "') IS NOT NULL");
    std::string record = "none";
    if (hasStore == "t") {
        const auto found =
            session.column("SELECT md5(fzy) FROM " + store + " WHERE layer_name = '" + table + "'");
        if (!found.empty()) {
            record = found.front();
        }
    }
    return rows + "/" + record;
}

std::future<bool> KillTheNextUpdate(TestSession& session) {
    session.exec(
        "CREATE FUNCTION \"Cadastre\".slow() RETURNS trigger LANGUAGE plpgsql AS "
        "$$BEGIN PERFORM pg_sleep(0.3); RETURN NEW; END$$");
    session.exec(
        "CREATE TRIGGER slow BEFORE UPDATE ON \"Cadastre\".\"Parcelles\" FOR EACH ROW "
        "EXECUTE FUNCTION \"Cadastre\".slow()");
    return std::async(std::launch::async, [] {
        TestSession watcher;
        for (int i = 0; i < 200; ++i) {
            const std::string killed = watcher.exec(
                "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE query LIKE "
                "'UPDATE \"Cadastre\".\"Parcelles\" SET %' AND pid <> pg_backend_pid()");
            if (killed != "0") {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    });
}

ProgramRun RunVarkFuzzy(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    ProgramRun run;
    // Close-on-exec, so that two runs started at once from two threads do not
    // hold each other's pipes open; the arguments are built before the fork,
    // since the child of a threaded process must not allocate.
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    std::string program = VARK_FUZZY_PROGRAM;
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (auto& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buffer[4096];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                } else {
                    sinks[i]->append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // Whatever the run did, no password reaches its output.
    EXPECT_EQ(run.out.find(ServerPassword()), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(ServerPassword()), std::string::npos) << run.err;
    return run;
}

}  // namespace vark::testing
