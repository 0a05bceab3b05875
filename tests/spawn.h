// Runs a program as a separate process and captures what it prints on each
// stream and its exit code. Both streams land in temporary files, so a chatty
// program can never block on a pipe.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

extern char **environ;

struct Outcome {
  int status = -1;  // exit code, or 128 + signal
  std::string out, err;
};

inline std::string slurp(std::FILE *f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

// A whole file's bytes; empty if it cannot be read.
inline std::string slurp(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  return f ? slurp(f) : std::string();
}

// A process started by start(), collected by finish().
struct Running {
  pid_t pid = -1;
  std::FILE *out, *err;
};

// argv[0] is the program's path, or a name looked up in PATH. stdout goes to a
// temporary file, or to stdout_path, and stdin comes from stdin_path when
// given (either may be a FIFO).
inline Running start(const std::vector<std::string> &argv, const char *stdout_path = nullptr,
                     const char *stdin_path = nullptr) {
  Running p{-1, std::tmpfile(), std::tmpfile()};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (stdout_path)
    posix_spawn_file_actions_addopen(&fa, 1, stdout_path, O_WRONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&fa, fileno(p.out), 1);
  posix_spawn_file_actions_adddup2(&fa, fileno(p.err), 2);
  if (stdin_path) posix_spawn_file_actions_addopen(&fa, 0, stdin_path, O_RDONLY, 0);
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  // Signals the test sends take their default action, whatever this process inherited.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t dfl;
  sigemptyset(&dfl);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXFSZ})
    sigaddset(&dfl, sig);
  posix_spawnattr_setsigdefault(&attr, &dfl);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  if (posix_spawnp(&p.pid, args[0], &fa, &attr, args.data(), environ) != 0) p.pid = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  return p;
}

inline Outcome finish(Running p) {
  Outcome r;
  int ws = 0;
  if (p.pid > 0 && waitpid(p.pid, &ws, 0) == p.pid)
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  r.out = slurp(p.out);
  r.err = slurp(p.err);
  return r;
}

inline Outcome spawn(const std::vector<std::string> &argv, const char *stdout_path = nullptr,
                     const char *stdin_path = nullptr) {
  return finish(start(argv, stdout_path, stdin_path));
}

// argv with its stdin a pipe that cat fills from path: input never seekable.
inline Outcome piped(const std::string &path, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/bin/sh", "-c", "cat \"$0\" | \"$@\"", path});
  return spawn(argv);
}
