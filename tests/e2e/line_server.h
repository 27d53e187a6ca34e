#pragma once

// A real PostgreSQL server of a test's own on a loopback port (tests/support/pg_server.sh),
// for the line database's whole runs.
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "support/process.h"

namespace morlane::test {

// A port on the loopback interface that nothing listens on now.
inline int FreePort() {
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
    ProcessResult started =
        test::RunProcess({"/bin/bash", Script(), "start", folder_, std::to_string(port_)}, "", 90);
    running_ = started.status == 0;
    if (!running_) err_ = started.err;
    return started.status;
  }
  void Stop() {
    if (paused_) Resume();
    if (running_) test::RunProcess({"/bin/bash", Script(), "stop", folder_}, "", 60);
    running_ = false;
  }
  // Every process of the server stopped where it stands: connections are still taken and
  // packets acknowledged, and nothing is answered.
  bool Pause() {
    paused_ = test::RunProcess({"/bin/bash", Script(), "pause", folder_}, "", 30).status == 0;
    return paused_;
  }
  void Resume() {
    test::RunProcess({"/bin/bash", Script(), "resume", folder_}, "", 30);
    paused_ = false;
  }
  std::string Url(const std::string& user = "morlane") const {
    return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/postgres";
  }
  int Port() const { return port_; }
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

  // The first value the server answers to sql, as text; "" when it cannot be asked.
  std::string Text(const std::string& sql) const {
    PGconn* connection = PQconnectdb(Url().c_str());
    std::string value;
    if (PQstatus(connection) == CONNECTION_OK) {
      PGresult* result = PQexec(connection, sql.c_str());
      if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) >= 1) {
        value = PQgetvalue(result, 0, 0);
      }
      PQclear(result);
    }
    PQfinish(connection);
    return value;
  }

  // How many rows the server answers to sql for user; -1 when it refused.
  int Rows(const std::string& sql, const std::string& user) const {
    PGconn* connection = PQconnectdb(Url(user).c_str());
    int rows = -1;
    if (PQstatus(connection) == CONNECTION_OK) {
      PGresult* result = PQexec(connection, sql.c_str());
      if (PQresultStatus(result) == PGRES_TUPLES_OK) rows = PQntuples(result);
      PQclear(result);
    }
    PQfinish(connection);
    return rows;
  }

  // Runs sql as the server's owner; false when it failed.
  bool Exec(const std::string& sql) const {
    PGconn* connection = PQconnectdb(Url().c_str());
    bool ok = false;
    if (PQstatus(connection) == CONNECTION_OK) {
      PGresult* result = PQexec(connection, sql.c_str());
      ok = PQresultStatus(result) == PGRES_COMMAND_OK;
      PQclear(result);
    }
    PQfinish(connection);
    return ok;
  }

 private:
  static std::string Script() {
    return std::string(MORLANE_SOURCE_DIR) + "/tests/support/pg_server.sh";
  }
  std::string folder_;
  int port_;
  bool running_ = false;
  bool paused_ = false;
  std::string err_;
};

}  // namespace morlane::test
