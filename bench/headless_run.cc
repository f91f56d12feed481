// A whole verification run without a window, for timing: the run engine
// with real corvex workers over one folder. The summary line on standard
// error ends with the time of the run alone ("run 24.31 ms"): from pressing
// Run to the end of the run, without this program's start-up, the opening
// of the database and the quitting, which a run in the window does not pay.
//   headless_run [--workers N] [--store-hashes] [--check-hashes] [--no-structure] [--no-details]
//                [--show-log] WORKFOLDER FOLDER
//   headless_run [--workers N] --memory-limits
// WORKFOLDER receives the settings, the database and the capture files.
// --show-log writes the run log to standard output after the run;
// --memory-limits writes the memory limit a run with N workers gives each
// of them, and the smallest limit a worker is ever given, in bytes ("none"
// where workers are not limited), and runs nothing.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "frontend/core/database.h"
#include "frontend/core/exif_time.h"
#include "frontend/core/hash_context.h"
#include "frontend/core/run_engine.h"
#include "frontend/core/run_log.h"
#include "frontend/core/worker_memory_limit.h"
#include "frontend/core/worker_pool.h"
#include "util/prefs.h"
#include "util/proper.h"
#include "util/worker_memory.h"

namespace {

class ConsoleUi : public frontend::RunUi {
 public:
  bool askOkCancel(const std::string&) override { return true; }
  void showMessage(const std::string& text) override { fprintf(stderr, "message: %s\n", text.c_str()); }
  void setProgressLine(int, const std::string&) override {}
  void closeProgress() override {}
  void showProgressUntil(const std::function<bool()>& run_ended) override {
    while (!run_ended()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  void clearStoreHashes() override {}
};

}  // namespace

int main(int argc, char** argv) {
  frontend::RunConfig config;
  bool show_log = false;
  bool memory_limits = false;
  int arg = 1;
  for (; arg < argc && strncmp(argv[arg], "--", 2) == 0; ++arg) {
    std::string option = argv[arg];
    if (option == "--workers" && arg + 1 < argc) {
      config.max_sub_processes = atol(argv[++arg]);
    } else if (option == "--store-hashes") {
      config.store_hashes = true;
    } else if (option == "--check-hashes") {
      config.check_hashes = true;
    } else if (option == "--no-structure") {
      config.check_structure = false;
    } else if (option == "--no-details") {
      config.db_details = false;
    } else if (option == "--show-log") {
      show_log = true;
    } else if (option == "--memory-limits") {
      memory_limits = true;
    } else {
      fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }
  if (memory_limits) {
    const auto limit = frontend::workerMemoryLimit(frontend::clampWorkerCount(config.max_sub_processes));
    printf("limit %s floor %llu\n", limit ? std::to_string(*limit).c_str() : "none",
           static_cast<unsigned long long>(worker_memory::kFloor));
    return 0;
  }
  if (argc - arg != 2) {
    fprintf(stderr,
            "usage: headless_run [--workers N] [--store-hashes] [--check-hashes] [--no-structure] [--no-details] "
            "[--show-log] WORK FOLDER\n       headless_run [--workers N] --memory-limits\n");
    return 2;
  }
  std::string work = argv[arg];
  config.folders = {argv[arg + 1]};
  config.capture_path = work + "/capture.txt";
  config.converter_path = "/bin/true";
  std::string root = work + "/props";
  if (!PropInit(root.c_str())) return 1;
  prefs.SetCurrent(propset_alloc(kPropCategory, "Bench"));

  frontend::RunLog log;
  frontend::Database db(log);
  if (!frontend::db_open(db, work + "/qx_main.sqlite3")) return 1;
  frontend::HashContext hashes(db, log, std::make_unique<frontend::ExaminerExifTimeSource>());
  ConsoleUi ui;
  frontend::PoolConfig pool{CORVEX_PATH, root, {}};
  frontend::RunEngine engine(ui, log, log, db, hashes, pool);
  const auto run_start = std::chrono::steady_clock::now();
  auto outcome = engine.runVerification(config);
  const std::chrono::duration<double, std::milli> run_time = std::chrono::steady_clock::now() - run_start;
  engine.quit();
  frontend::db_close(db);
  if (show_log) {
    std::string text = log.text();
    std::erase(text, '\r');
    fputs(text.c_str(), stdout);
  }
  const auto& c = engine.recorder().counters();
  fprintf(stderr, "processed %d valid %d invalid %d hash errors %d status \"%s\" run %.2f ms\n", c.processed, c.valid,
          c.invalid, c.hash_error, outcome.status.c_str(), run_time.count());
  return outcome.status.empty() && c.invalid == 0 && c.hash_error == 0 ? 0 : 1;
}
