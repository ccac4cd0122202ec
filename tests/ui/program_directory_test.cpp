#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "files/program_directory.h"

using namespace fc;
namespace fs = std::filesystem;

class ProgramDirectoryTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QVERIFY(root.isValid()); }

  void ExecutableDirectoryWhenWritable() {
    const fs::path exe = Root() / "bin";
    fs::create_directory(exe);
    QCOMPARE(ChooseProgramDirectory("", exe, Root() / "user").string(), exe.string());
    QVERIFY(!fs::exists(Root() / "user"));
  }

  // An installed copy: the executable's directory cannot be written (here it does not even
  // exist), so the per-user directory is used and created.
  void PerUserDirectoryOtherwise() {
    const fs::path user = Root() / "share" / "frequency-counter";
    QCOMPARE(ChooseProgramDirectory("", Root() / "missing", user).string(), user.string());
    QVERIFY(fs::is_directory(user));
    const fs::path file = Root() / "a-file";
    { std::ofstream(file) << "x"; }
    QCOMPARE(ChooseProgramDirectory("", file, user).string(), user.string());
    QCOMPARE(ChooseProgramDirectory("", fs::path(), user).string(), user.string());
    // Installed programs never keep their files beside them, not even when root runs them.
    QCOMPARE(ChooseProgramDirectory("", "/usr/bin", user).string(), user.string());
    QCOMPARE(ChooseProgramDirectory("", "/opt/counter/bin", user).string(), user.string());
  }

  void SystemDirectories() {
    QVERIFY(IsSystemDirectory("/usr/bin"));
    QVERIFY(IsSystemDirectory("/usr/local/bin"));
    QVERIFY(IsSystemDirectory("/bin"));
    QVERIFY(IsSystemDirectory("/opt/x/bin/"));
    QVERIFY(!IsSystemDirectory("/usrlocal/bin"));
    QVERIFY(!IsSystemDirectory("/home/me/bin"));
    QVERIFY(!IsSystemDirectory("/work/main/build/src/ui"));
  }

  void OverrideWinsInEveryCase() {
    const fs::path exe = Root() / "bin";
    fs::create_directory(exe);
    const fs::path home = Root() / "home" / "counter";
    QCOMPARE(ChooseProgramDirectory(home.string(), exe, Root() / "user").string(), home.string());
    QVERIFY(fs::is_directory(home));
    QCOMPARE(ChooseProgramDirectory(home.string(), Root() / "missing", Root() / "user").string(),
             home.string());
  }

  void ProcessRuleReadsTheVariable() {
    const fs::path home = Root() / "env-home";
    qputenv(kHomeVariable, QByteArray::fromStdString(home.string()));
    QCOMPARE(ProgramDirectory(Root() / "user").string(), home.string());
    qunsetenv(kHomeVariable);
    // The test binary's own directory is a writable build directory.
    QCOMPARE(ProgramDirectory(Root() / "user").string(), ExecutableDirectory().string());
    QCOMPARE(ExecutableDirectory().string(),
             fs::path(QCoreApplication::applicationDirPath().toStdString()).string());
  }

  void PerUserDefaultFollowsXdg() {
    qputenv("XDG_DATA_HOME", "/data/home");
    QCOMPARE(DefaultPerUserDirectory().string(), std::string("/data/home/frequency-counter"));
    qputenv("XDG_DATA_HOME", "relative/ignored");
    qputenv("HOME", "/home/someone");
    QCOMPARE(DefaultPerUserDirectory().string(),
             std::string("/home/someone/.local/share/frequency-counter"));
  }

 private:
  fs::path Root() const { return root.path().toStdString(); }
  QTemporaryDir root;
};

QTEST_GUILESS_MAIN(ProgramDirectoryTest)
#include "program_directory_test.moc"
