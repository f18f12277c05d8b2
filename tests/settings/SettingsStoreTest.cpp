// The INI settings store against real files in a temporary folder; QStandardPaths' test
// mode keeps the user's own configuration out of reach.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "settings/IniSettingsStore.h"
#include "tests/FileSizeLimit.h"

using pulsewright::IniSettingsStore;

// Readable failures: QString prints as text.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

class IniSettingsStoreTest : public ::testing::Test {
 protected:
  QString path() const { return dir_.filePath("Pulsewright/Pulsewright.ini"); }
  QByteArray fileBytes() const {
    QFile file(path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  QTemporaryDir dir_;
};

TEST_F(IniSettingsStoreTest, ValuesComeBackExactlyThroughAnotherInstance) {
  const QList<QPair<QString, QString>> values = {
      {"FontName", "Courier New"},
      {"CrLf", "k |x---x---|\r\ns |----x---|\r\n"},
      {"Lf", "line one\nline two\n"},
      {"LoneCr", "a\rb"},
      {"TemplateList", "Intro,Fill,"},
      {"Spaces", "  leading and trailing  "},
      {"Quotes", "\"quoted\" ; semi = equals \\ back"},
      {"At", "@Variant(\\0\\0\\0\\x7f)"},
      {"NonAscii", QString::fromUtf8("Grüße 鼓 🥁")},
      {"Tabs", "\tx\t"},
      {"Empty", ""},
  };
  {
    IniSettingsStore writer(path());
    for (const auto& [key, value] : values)
      EXPECT_TRUE(writer.SaveSetting("Templates", key, value));
    EXPECT_TRUE(writer.SaveSetting("LookAndFeel", "FontSize", "9.75"));
  }
  IniSettingsStore reader(path());
  for (const auto& [key, value] : values) {
    EXPECT_EQ(reader.GetSetting("Templates", key, "default"), value) << key.toStdString();
  }
  // Written empty reads empty, not as the default; missing keys and sections give it.
  EXPECT_EQ(reader.GetSetting("Templates", "Empty", "default"), "");
  EXPECT_EQ(reader.GetSetting("LookAndFeel", "FontName", "Courier"), "Courier");
  EXPECT_EQ(reader.GetSetting("Nowhere", "FontSize", "10"), "10");
  EXPECT_EQ(reader.GetSetting("LookAndFeel", "FontSize", "10"), "9.75");

  // The sections are plain INI sections in the file.
  const QByteArray bytes = fileBytes();
  EXPECT_TRUE(bytes.contains("[LookAndFeel]"));
  EXPECT_TRUE(bytes.contains("[Templates]"));

  // Two stores on one file: the last write wins, and each sees the other's writes.
  IniSettingsStore other(path());
  EXPECT_TRUE(other.SaveSetting("Templates", "FontName", "Mono"));
  EXPECT_EQ(reader.GetSetting("Templates", "FontName", ""), "Mono");
  EXPECT_TRUE(reader.SaveSetting("Templates", "FontName", "Serif"));
  EXPECT_EQ(other.GetSetting("Templates", "FontName", ""), "Serif");
}

TEST_F(IniSettingsStoreTest, KeysAreAnyText) {
  const QStringList names = {"A/B",
                             "/lead",
                             "trail/",
                             "A//B",
                             "A\\B",
                             "\\",
                             "a=b",
                             "a;b",
                             "a,b",
                             " ",
                             " spaced ",
                             "",
                             "%41",
                             "%",
                             "%%",
                             "~tilde",
                             "[Templates]",
                             "#hash",
                             "General",
                             "TemplateList",
                             QString::fromUtf8("Trommelwirbel ü"),
                             QString::fromUtf8("鼓🥁"),
                             "a\nb",
                             "x\"y"};
  {
    IniSettingsStore writer(path());
    for (int i = 0; i < names.size(); ++i) {
      ASSERT_TRUE(writer.SaveSetting("Templates", names[i], QString("value %1").arg(i)))
          << names[i].toStdString();
    }
  }
  IniSettingsStore reader(path());
  for (int i = 0; i < names.size(); ++i) {
    EXPECT_EQ(reader.GetSetting("Templates", names[i], "missing"), QString("value %1").arg(i))
        << names[i].toStdString();
  }
  // Nothing turned into a group or merged with another name.
  QStringList listed = reader.keys("Templates");
  QStringList expected = names;
  listed.sort();
  expected.sort();
  EXPECT_EQ(listed, expected);

  // A name that escapes like another is still its own key.
  EXPECT_EQ(reader.GetSetting("Templates", "%2F", "missing"), "missing");
  for (const QString& name : names) {
    const QString escaped = IniSettingsStore::escapeKey(name);
    EXPECT_FALSE(escaped.isEmpty());
    EXPECT_FALSE(escaped.contains('/') || escaped.contains('\\'));
    EXPECT_EQ(IniSettingsStore::unescapeKey(escaped), name);
  }
  // Plain names stay readable in the file.
  EXPECT_EQ(IniSettingsStore::escapeKey("FontName"), "FontName");
}

TEST_F(IniSettingsStoreTest, DeleteRemovesOneKeyAndReportsAMissingOne) {
  IniSettingsStore store(path());
  ASSERT_TRUE(store.SaveSetting("Templates", "Intro", "x"));
  ASSERT_TRUE(store.SaveSetting("Templates", "A/B", "y"));
  ASSERT_TRUE(store.SaveSetting("Templates", "Intro2", "z"));

  EXPECT_TRUE(store.DeleteSetting("Templates", "A/B"));
  EXPECT_TRUE(store.DeleteSetting("Templates", "Intro"));
  IniSettingsStore reader(path());
  EXPECT_EQ(reader.GetSetting("Templates", "Intro", "gone"), "gone");
  EXPECT_EQ(reader.GetSetting("Templates", "A/B", "gone"), "gone");
  EXPECT_EQ(reader.GetSetting("Templates", "Intro2", "gone"), "z");

  const QByteArray before = fileBytes();
  EXPECT_FALSE(store.DeleteSetting("Templates", "Intro"));
  EXPECT_FALSE(store.DeleteSetting("Nowhere", "Intro2"));
  EXPECT_EQ(fileBytes(), before);
}

TEST_F(IniSettingsStoreTest, AWriteThatCannotReachTheDiskIsReported) {
  // The folder the file should go in is a regular file, so nothing can be written.
  QFile blocker(dir_.filePath("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  IniSettingsStore store(dir_.filePath("blocker/Pulsewright.ini"));
  EXPECT_FALSE(store.SaveSetting("Templates", "Intro", "x"));

  EXPECT_FALSE(store.DeleteSetting("Templates", "Intro"));
}

TEST_F(IniSettingsStoreTest, AWriteThatStopsShortLeavesTheFileAsItWas) {
  IniSettingsStore store(path());
  ASSERT_TRUE(store.SaveSetting("Templates", "Long", QString(3000, QLatin1Char('t'))));
  ASSERT_TRUE(store.SaveSetting("Templates", "Other", QString(3000, QLatin1Char('o'))));
  const QByteArray before = fileBytes();
  // Smaller than the file: this Qt's own write reports success and leaves it cut short.
  EXPECT_FALSE(pulsewright::withFileSizeLimit(
      1000, [&] { return store.SaveSetting("LookAndFeel", "FontName", "Courier"); }));
  EXPECT_EQ(fileBytes(), before);
  EXPECT_EQ(store.GetSetting("Templates", "Long", "").size(), 3000);
  EXPECT_FALSE(pulsewright::withFileSizeLimit(
      1000, [&] { return store.DeleteSetting("Templates", "Long"); }));
  EXPECT_EQ(fileBytes(), before);
}

TEST(IniSettingsStoreLocation, TheDefaultFileIsInTheConfigurationFolder) {
  // Test mode is on (see main), so this is the test configuration folder.
  const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  EXPECT_TRUE(config.contains("qttest"));
  IniSettingsStore store;
  EXPECT_TRUE(store.filePath().startsWith(config + "/Pulsewright/"));
  QFile::remove(store.filePath());
  ASSERT_TRUE(store.SaveSetting("LookAndFeel", "BackColor", "255"));
  EXPECT_EQ(IniSettingsStore().GetSetting("LookAndFeel", "BackColor", "16777215"), "255");
  EXPECT_TRUE(QFile::remove(store.filePath()));
}

}  // namespace

int main(int argc, char** argv) {
  QStandardPaths::setTestModeEnabled(true);
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
