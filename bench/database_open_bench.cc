// Opening the results database at start-up: the open and the schema check,
// on a database with no reference hashes and on one with 1,000,000 (written
// once under $TMPDIR, else /tmp, and removed at the end). The file stays in
// the system's cache between iterations, as it does between start-ups.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "frontend/core/database.h"
#include "frontend/core/run_log.h"

namespace {

using namespace frontend;

class QuietLog : public RunLogSink {
 public:
  void appendRunLog(const char*) override {}
  void appendRunLogNotice(const char*) override {}
};

std::map<int, std::string> g_files;

// A database holding references stored hashes, as runs that store hashes
// leave it: keys of name, size, modification time and EXIF time.
const std::string& database_with(int references) {
  auto found = g_files.find(references);
  if (found != g_files.end()) return found->second;
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/corvella_open_bench_" +
                     std::to_string(references) + ".sqlite3";
  std::remove(path.c_str());
  QuietLog log;
  Database db(log);
  bool ok = db_open(db, path) && db_exec(db, "begin transaction") &&
            db_exec(db, "insert into hash_path (path) values('/photos/2024')");
  if (ok && references > 0) {
    ok = db_exec(db, db_format("insert into hash_key (key, hash_path_id, hash) "
                               "with recursive n(i) as (select 1 union all select i + 1 from n where i < %d) "
                               "select printf('IMG_%%07d.JPG/%%d/2024-01-02 03:04:05/2024:01:02 03:04:05', i, "
                               "4000000 + i), 1, randomblob(64) from n",
                               references));
  }
  ok = ok && db_exec(db, "commit");
  db_close(db);
  if (!ok) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  return g_files.emplace(references, path).first->second;
}

void BM_OpenDatabase(benchmark::State& state) {
  const std::string& path = database_with(static_cast<int>(state.range(0)));
  QuietLog log;
  for (auto _ : state) {
    Database db(log);
    bool opened = db_open(db, path);
    benchmark::DoNotOptimize(opened);
    db_close(db);
  }
}
BENCHMARK(BM_OpenDatabase)->Arg(0)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [references, path] : g_files) std::remove(path.c_str());
  return 0;
}
