// The line's database: a real PostgreSQL server of the test's own on a loopback port, fed
// by a station through its store. The server goes away in the middle of a shift and comes
// back; every run arrives exactly once.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "flash/test_image_maker.h"
#include "support/process.h"

namespace morlane {
namespace {

using test::RunProcess;
using test::TempDir;
using ::testing::HasSubstr;

// A port on the loopback interface that nothing listens on now.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

class LineServer {
 public:
  explicit LineServer(const TempDir& dir) : folder_(dir.File("pg")), port_(FreePort()) {}
  ~LineServer() { Stop(); }
  int Start() {
    test::ProcessResult started =
        RunProcess({"/bin/bash", Script(), "start", folder_, std::to_string(port_)}, "", 90);
    running_ = started.status == 0;
    if (!running_) err_ = started.err;
    return started.status;
  }
  void Stop() {
    if (running_) RunProcess({"/bin/bash", Script(), "stop", folder_}, "", 60);
    running_ = false;
  }
  std::string Url() const {
    return "postgresql://morlane@127.0.0.1:" + std::to_string(port_) + "/postgres";
  }
  const std::string& Error() const { return err_; }

  // One number the server answers to sql; -1 when it cannot be asked.
  long long Number(const std::string& sql) const {
    PGconn* connection = PQconnectdb(Url().c_str());
    long long value = -1;
    if (PQstatus(connection) == CONNECTION_OK) {
      PGresult* result = PQexec(connection, sql.c_str());
      if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1) {
        value = std::stoll(PQgetvalue(result, 0, 0));
      }
      PQclear(result);
    }
    PQfinish(connection);
    return value;
  }

 private:
  static std::string Script() {
    return std::string(MORLANE_SOURCE_DIR) + "/tests/support/pg_server.sh";
  }
  std::string folder_;
  int port_;
  bool running_ = false;
  std::string err_;
};

TEST(LineDatabaseE2e, EveryRunArrivesOnceThoughTheServerWentAwayMidShift) {
  TempDir dir;
  dir.Write("Master.bin", test::MakeInverterImage({{0x2010, test::Words(3, 0x4000)}}));
  LineServer server(dir);
  ASSERT_EQ(server.Start(), 0) << server.Error();
  auto batch = [&](const char* units) {
    return RunProcess(
        {MORLANE_CLI, "--simulate-units", units, "--dir", dir.Path(), "--records", dir.File("out"),
         "--records-db", server.Url(), "gang", "flash", dir.File("Master.bin"), "--cpu", "master"},
        "", 60);
  };
  const std::string runs = "SELECT count(*) FROM morlane.runs";
  const std::string distinct = "SELECT count(DISTINCT run_id) FROM morlane.runs";

  test::ProcessResult first = batch("2");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(server.Number(runs), 2);
  EXPECT_EQ(server.Number("SELECT count(*) FROM morlane.images WHERE result = 'pass'"), 2);
  EXPECT_EQ(server.Number("SELECT count(*) FROM morlane.runs WHERE record->>'run_id' = run_id"
                          " AND log LIKE '%Flash verified Successful!!%'"),
            2);

  // The server stops: the station goes on, says so once, keeps every run.
  server.Stop();
  test::ProcessResult cut = batch("2");
  EXPECT_EQ(cut.status, 0) << cut.err;
  size_t said = 0;
  for (size_t at = cut.err.find("line database cannot be reached"); at != std::string::npos;
       at = cut.err.find("line database cannot be reached", at + 1)) {
    ++said;
  }
  EXPECT_EQ(said, 1u) << cut.err;

  // Back again: the backlog goes with the next run's end.
  ASSERT_EQ(server.Start(), 0) << server.Error();
  test::ProcessResult back = batch("1");
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(server.Number(runs), 5);
  EXPECT_EQ(server.Number(distinct), 5);
  test::ProcessResult push = RunProcess(
      {MORLANE_CLI, "--records", dir.File("out"), "--records-db", server.Url(), "records", "push"},
      "", 60);
  EXPECT_EQ(push.status, 0) << push.err;
  EXPECT_EQ(push.out, "0 runs sent\n");

  // Everything sent again, as after a lost acknowledgement: stored once all the same.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("out/records.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "UPDATE runs SET pushed = 0", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  push = RunProcess(
      {MORLANE_CLI, "--records", dir.File("out"), "--records-db", server.Url(), "records", "push"},
      "", 60);
  EXPECT_EQ(push.status, 0) << push.err;
  EXPECT_EQ(push.out, "5 runs sent\n");
  EXPECT_EQ(server.Number(runs), 5);
  EXPECT_EQ(server.Number("SELECT count(*) FROM morlane.images"), 5);

  // The line's runs read back are the station's, record for record, log for log.
  auto records = [&](std::vector<std::string> source, std::vector<std::string> command) {
    std::vector<std::string> argv{MORLANE_CLI};
    argv.insert(argv.end(), source.begin(), source.end());
    argv.push_back("records");
    argv.insert(argv.end(), command.begin(), command.end());
    return RunProcess(argv, "", 60);
  };
  const std::vector<std::string> station{"--records", dir.File("out")};
  const std::vector<std::string> line{"--records-db", server.Url()};
  test::ProcessResult here = records(station, {"list", "--json"});
  test::ProcessResult there = records(line, {"list", "--json"});
  EXPECT_EQ(there.status, 0) << there.err;
  EXPECT_EQ(there.out, here.out);
  EXPECT_EQ(test::SplitLines(there.out).size(), 5u);
  const std::string record = test::SplitLines(here.out).back();
  const size_t id = record.find("\"run_id\": \"") + 11;
  const std::string oldest = record.substr(id, record.find('"', id) - id);
  test::ProcessResult shown = records(line, {"show", oldest});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out, records(station, {"show", oldest}).out);
  EXPECT_EQ(records(line, {"yield", "--by", "slot"}).out,
            records(station, {"yield", "--by", "slot"}).out);
}

}  // namespace
}  // namespace morlane
