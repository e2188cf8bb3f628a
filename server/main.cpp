// parlo-server: the messenger server and home server of its users.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "server/core.h"
#include "server/log.h"
#include "server/options.h"
#include "server/password.h"
#include "server/server.h"
#include "server/store.h"

namespace {

// One descriptor per connection: take the whole allowance the system grants.
void raise_fd_limit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

void make_parent_dirs(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        mkdir(path.substr(0, pos).c_str(), 0700);
}

}  // namespace

int main(int argc, char** argv) {
    srv::CommandLine cl;
    std::string error;
    if (srv::parse_command_line(argc, argv, &cl, &error) != 0) {
        std::fprintf(stderr, "parlo-server: %s\n%s", error.c_str(), srv::usage_text());
        return 2;
    }
    if (cl.help) {
        std::fputs(srv::usage_text(), stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    raise_fd_limit();

    srv::Log log;
    if (!cl.log_path.empty() && log.open(cl.log_path) != 0) {
        std::fprintf(stderr, "parlo-server: cannot open log %s\n", cl.log_path.c_str());
        return 1;
    }
    if (srv::password_init() != 0) {
        log.line("libsodium initialisation failed");
        return 1;
    }
    if (cl.db_path != ":memory:") make_parent_dirs(cl.db_path);
    srv::Store store;
    if (store.open(cl.db_path) != 0) {
        log.line("cannot open database %s: %s", cl.db_path.c_str(), store.last_error().c_str());
        return 1;
    }
    log.line("database %s opened", cl.db_path.c_str());

    srv::Server server(store, log, cl.server);
    if (cl.seed_demo && server.core().seed_demo() != 0) {
        log.line("creating the demo accounts failed: %s", store.last_error().c_str());
        return 1;
    }
    if (server.start() != 0) return 1;
    // One line on standard output once connections are taken: what starts the server waits for it.
    std::printf("parlo-server listening on %s:%d\n", cl.server.listen.c_str(), server.port());
    std::fflush(stdout);
    server.run();
    store.close();
    log.line("stopped");
    return 0;
}
