// Starts a program for a benchmark with its output thrown away, in this process's environment
// less the variables that point the desktop program at its data folder or change how it
// draws (the benchmark passes its own in `extraEnvironment`, as "NAME=value").
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

extern char** environ;

namespace orbel::bench {

// The child's id, or -1 when it cannot be started.
inline pid_t SpawnQuiet(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        bool dropped = false;
        for (const char* prefix : {"XDG_DATA_HOME=", "LOCALAPPDATA=", "APPDATA=", "ORBEL_FRAME_"}) {
            dropped = dropped || variable.rfind(prefix, 0) == 0;
        }
        if (!dropped) variables.push_back(variable);
    }
    variables.insert(variables.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

}  // namespace orbel::bench
