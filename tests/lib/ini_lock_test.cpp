// The machine-wide INI lock: processes writing one file at once lose nothing,
// a process killed while holding the lock does not block the others, and a
// second creator never resets a lock that is held.
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "ini_fixture.hpp"

namespace {

using qx_ini_test::IniTest;

// Runs body in a child process; its result is the child's exit code.
pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// The child's exit code, or 128 + signal when a signal ended it.
int Join(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int LockValue(int id) { return semctl(id, 1, GETVAL); }

TEST_F(IniTest, TwoProcessesWritingOneFileLoseNothing) {
    const std::string file = Ini("# counters\n[Other]\nkeep=1\n\n[Counter]\nA=0\nmiddle = 5 # stays\nB=0\n"
                                 "[Tail]\nx=y\n");
    const auto writer = [&file](const char* key) {
        return [&file, key] {
            for (int i = 0; i < 500; ++i)
                if (WritePrivateProfileString("Counter", key, std::to_string(i).c_str(), file.c_str()) != 1) return 1;
            return 0;
        };
    };
    const pid_t a = Spawn(writer("A"));
    const pid_t b = Spawn(writer("B"));
    EXPECT_EQ(Join(a), 0);
    EXPECT_EQ(Join(b), 0);
    EXPECT_EQ(Content(file), "# counters\n[Other]\nkeep=1\n\n[Counter]\nA=499\nmiddle = 5 # stays\nB=499\n"
                             "[Tail]\nx=y\n");
}

TEST_F(IniTest, AProcessKilledHoldingTheLockDoesNotBlockOthers) {
    const std::string file = Ini("[A]\nx=1\ny=2\n");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = Spawn([&ready] {
        lockIniFile(nullptr, 1);
        if (write(ready[1], "L", 1) != 1) return 1;
        pause();
        return 0;
    });
    char signal_byte = 0;
    ASSERT_EQ(read(ready[0], &signal_byte, 1), 1);

    const int id = SEMA_Create(sandbox_.path("/tmp/ini.sema").c_str());
    ASSERT_GE(id, 0);
    EXPECT_EQ(LockValue(id), 0);
    sembuf attempt{1, -1, IPC_NOWAIT};
    EXPECT_EQ(semop(id, &attempt, 1), -1);  // held: nobody else gets it
    EXPECT_EQ(errno, EAGAIN);

    kill(holder, SIGKILL);
    EXPECT_EQ(Join(holder), 128 + SIGKILL);
    EXPECT_EQ(LockValue(id), 1);  // the kernel undid the holder's take

    const pid_t writer = Spawn([&file] {
        alarm(30);  // a blocked lock ends the writer instead of the test run
        return WritePrivateProfileString("A", "x", "3", file.c_str()) == 1 ? 0 : 1;
    });
    EXPECT_EQ(Join(writer), 0);
    EXPECT_EQ(Content(file), "[A]\nx=3\ny=2\n");
    close(ready[0]);
    close(ready[1]);
}

TEST_F(IniTest, SemaCreateMarksTheSetOnceAndNeverResetsAHeldLock) {
    const std::string key_file = sandbox_.path("/tmp/ini.sema").string();
    const int id = SEMA_Create(key_file.c_str());
    ASSERT_GE(id, 0);
    struct stat st {};
    ASSERT_EQ(stat(key_file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(semctl(id, 0, GETVAL), 1234);
    EXPECT_EQ(LockValue(id), 1);

    lockIniFile(nullptr, 1);
    EXPECT_EQ(LockValue(id), 0);
    EXPECT_EQ(SEMA_Create(key_file.c_str()), id);  // as a second program starting now
    EXPECT_EQ(LockValue(id), 0);
    lockIniFile(nullptr, 0);
    EXPECT_EQ(LockValue(id), 1);

    SEMA_pv(-1, 1);
    EXPECT_EQ(LockValue(id), 0);
    SEMA_pv(+1, 1);
    EXPECT_EQ(LockValue(id), 1);
}

TEST_F(IniTest, ASetLeftUnmarkedByADeadCreatorIsTakenOver) {
    const std::string key_file = sandbox_.path("/tmp/ini.sema").string();
    qx_test::WriteFile(key_file, "");
    const int stale = semget(ftok(key_file.c_str(), 'Q'), 2, IPC_CREAT | 0666);  // values 0, 0
    ASSERT_GE(stale, 0);
    EXPECT_EQ(SEMA_Create(key_file.c_str()), stale);
    EXPECT_EQ(semctl(stale, 0, GETVAL), 1234);
    EXPECT_EQ(LockValue(stale), 1);
}

TEST_F(IniTest, WithoutASemaphoreInisAreUsedUnlocked) {
    std::filesystem::remove_all(sandbox_.path("/tmp"));  // no key file can be made
    EXPECT_EQ(SEMA_Create(sandbox_.path("/no/such/dir/ini.sema").c_str()), -ENOENT);
    EXPECT_EQ(SEMA_Create(nullptr), -EINVAL);
    const std::string file = Ini("[A]\nx=1\ny=2\n");
    EXPECT_EQ(WritePrivateProfileString("A", "x", "4", file.c_str()), 1);
    EXPECT_EQ(GetPrivateProfileInt("A", "x", 0, file.c_str()), 4);
}

}  // namespace
