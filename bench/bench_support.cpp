#include "bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

extern char** environ;

namespace qorbbench {

namespace {

std::vector<Row>& RowList()
{
    static std::vector<Row> rows;
    return rows;
}

std::string g_workDir;

void RemoveWorkDir()
{
    std::error_code ec;
    if (!g_workDir.empty())
        std::filesystem::remove_all(g_workDir, ec);
}

} // namespace

void AddRow(const Row& row)
{
    RowList().push_back(row);
}

const std::vector<Row>& Rows()
{
    return RowList();
}

namespace {

std::vector<Limit>& LimitList()
{
    static std::vector<Limit> limits;
    return limits;
}

} // namespace

void AddLimit(const Limit& limit) { LimitList().push_back(limit); }

const std::vector<Limit>& Limits() { return LimitList(); }

int RunCommand(const std::vector<std::string>& argv, const std::string& outPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string& WorkDir()
{
    if (g_workDir.empty()) {
        char tmpl[] = "/tmp/qorbbench-XXXXXX";
        if (!mkdtemp(tmpl)) {
            perror("qorb_bench: mkdtemp");
            exit(1);
        }
        g_workDir = tmpl;
        atexit(RemoveWorkDir);
    }
    return g_workDir;
}

void AppendDumpFunction(std::string& text, int bus, int dev, int fn, const uint8_t* space, size_t length)
{
    char line[80];
    snprintf(line, sizeof line, "%02x:%02x.%d function\n", bus, dev, fn);
    text += line;
    for (size_t row = 0; row < length; row += 16) {
        snprintf(line, sizeof line, length > 256 ? "%03zx:" : "%02zx:", row);
        text += line;
        for (size_t i = 0; i < 16 && row + i < length; ++i) {
            snprintf(line, sizeof line, " %02x", space[row + i]);
            text += line;
        }
        text += "\n";
    }
}

bool WriteBytes(const std::string& path, const void* bytes, size_t length)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes, 1, length, f) == length;
    return fclose(f) == 0 && ok;
}

} // namespace qorbbench
