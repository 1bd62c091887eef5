// A program for tests to start: it describes itself into the file named by SETUP_PROBE_OUT
// (its folder, whether it leads its own session, its open files and where its standard input
// comes from), then, when SETUP_PROBE_GATE names a FIFO, runs on until the test writes to it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

namespace {

std::string OpenFiles()
{
    std::string list;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds)
        return "?";
    while (dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(fds))
            continue;
        list += list.empty() ? "" : " ";
        list += entry->d_name;
    }
    closedir(fds);
    return list;
}

std::string LinkTarget(const char* link)
{
    char target[PATH_MAX] = {};
    ssize_t n = readlink(link, target, sizeof target - 1);
    return n < 0 ? "?" : std::string(target, static_cast<size_t>(n));
}

} // namespace

int main()
{
    const char* out = std::getenv("SETUP_PROBE_OUT");
    if (!out)
        return 2;
    char folder[PATH_MAX] = {};
    if (!getcwd(folder, sizeof folder))
        return 2;
    std::string report = std::string("folder=") + folder + "\n" +
                         "own-session=" + (getsid(0) == getpid() ? "yes" : "no") + "\n" +
                         "pid=" + std::to_string(getpid()) + "\n" + "files=" + OpenFiles() + "\n" +
                         "stdin=" + LinkTarget("/proc/self/fd/0") + "\n";
    // Written whole and then renamed, so that a reader never sees half of it.
    std::string partial = std::string(out) + ".partial";
    FILE* file = std::fopen(partial.c_str(), "w");
    if (!file)
        return 2;
    std::fputs(report.c_str(), file);
    std::fclose(file);
    std::rename(partial.c_str(), out);

    if (const char* gate = std::getenv("SETUP_PROBE_GATE")) {
        int fd = open(gate, O_RDONLY);
        char c;
        while (fd >= 0 && read(fd, &c, 1) > 0) {
        }
    }
    return 0;
}
