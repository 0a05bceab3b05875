// Runs a program as a separate process and captures what it prints on each
// stream and its exit code. Both streams land in temporary files, so a chatty
// program can never block on a pipe.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

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

// argv[0] is the program's path. stdout goes to stdout_path when one is given.
inline Outcome spawn(const std::vector<std::string> &argv, const char *stdout_path = nullptr) {
  std::FILE *out = std::tmpfile();
  std::FILE *err = std::tmpfile();
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (stdout_path)
    posix_spawn_file_actions_addopen(&fa, 1, stdout_path, O_WRONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&fa, fileno(out), 1);
  posix_spawn_file_actions_adddup2(&fa, fileno(err), 2);
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);

  Outcome r;
  pid_t pid;
  int ws = 0;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) == 0 &&
      waitpid(pid, &ws, 0) == pid)
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  posix_spawn_file_actions_destroy(&fa);
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}
