// Started detached by a test: writes what it inherited (open descriptors,
// where its standard streams lead, its directory, session and arguments) to
// the file named by its first argument, then renames it into place.

#include <cstdio>
#include <dirent.h>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const std::string target = argv[1];
    const std::string partial = target + ".part";
    std::FILE *out = std::fopen(partial.c_str(), "w");
    if (!out)
        return 3;
    const int ownDescriptor = fileno(out);
    if (DIR *fds = opendir("/proc/self/fd")) {
        const int listing = dirfd(fds);
        while (dirent *entry = readdir(fds)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || std::stoi(name) == listing
                || std::stoi(name) == ownDescriptor)
                continue;
            char link[4096] = {};
            const ssize_t size = readlink(("/proc/self/fd/" + name).c_str(), link, sizeof link - 1);
            std::fprintf(out, "fd %s %s\n", name.c_str(), size > 0 ? link : "?");
        }
        closedir(fds);
    }
    char directory[4096] = {};
    if (getcwd(directory, sizeof directory))
        std::fprintf(out, "cwd %s\n", directory);
    std::fprintf(out, "session %d\n", int(getsid(0)));
    for (int i = 2; i < argc; ++i)
        std::fprintf(out, "arg %s\n", argv[i]);
    std::fclose(out);
    return std::rename(partial.c_str(), target.c_str()) == 0 ? 0 : 4;
}
