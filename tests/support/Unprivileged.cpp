#include "Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

int RunUnprivileged(const std::function<int()>& body) {
  if (geteuid() != 0) return body();
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const gid_t nobodyGroup = 65534;
    const uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(nobodyGroup) != 0 || setuid(nobody) != 0) _exit(255);
    _exit(body() & 0xFF);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  int code = WEXITSTATUS(status);
  return code == 255 ? -1 : code;
}
