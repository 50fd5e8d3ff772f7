// Loads the real Purpose framework with the plugin from the build tree, finds "Invia con Movarix"
// among the export alternatives for a selection given as Dolphin gives it (QUrl::toString()
// text), runs its job and checks that one process, a recorder standing in for quillop-share, got
// exactly the selection, in order, every byte of every name intact.
#include <gtest/gtest.h>
#include <purpose/alternativesmodel.h>
#include <purpose/configuration.h>
#include <purpose/job.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <memory>
#include <thread>

#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

TEST(PurposeTest, OneShareProcessGetsTheWholeSelectionInOrder) {
  TempDir temp;
  const std::string records = temp / "records", recorder = temp / "quillop-share";
  makeFolder(records);
  writeFile(recorder, "#!/bin/sh\nprintf '%s\\0' \"$@\" >'" + records + "/.$$' && mv '" + records +
                          "/.$$' '" + records + "/$$'\n");
  ASSERT_EQ(chmod(recorder.c_str(), 0755), 0);
  temp.setEnv("QT_PLUGIN_PATH", QUILLOP_PLUGINS);
  temp.setEnv("XDG_CONFIG_HOME", temp / "config");  // no purposerc of the user's
  int argc = 1;
  char name[] = "purpose_test", *argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);

  const std::string spaced = "a b%41 c #1?.txt", line = "riga\nnuova.txt",
                    accents = "Caffè ☕ città.md", folder = "Cartella 100%";
  makeFolder(temp / folder);
  for (const std::string& file : {spaced, line, accents, folder + "/dentro.txt"})
    writeFile(temp / file, file);
  // Selection (in the folder), type, program, and the error ("" when the share starts).
  const std::tuple<std::vector<std::string>, const char*, std::string, const char*> rows[] = {
      {{line, spaced, accents}, "text/plain", recorder, ""},
      {{folder}, "inode/directory", recorder, ""},
      {{folder, accents}, "application/octet-stream", recorder, ""},
      {{spaced}, "text/plain", temp / "nessuno", "Impossibile avviare"},
  };
  for (const auto& [names, mimeType, program, expectedError] : rows) {
    SCOPED_TRACE(names.back() + " " + program);
    temp.setEnv("QUILLOP_SHARE_PROGRAM", program);
    QJsonArray urls;
    for (const std::string& item : names)
      urls.append(QUrl::fromLocalFile(QString::fromStdString(temp / item)).toString());
    // Offered as a share menu offers it, and run.
    Purpose::AlternativesModel model;
    model.setInputData({{QStringLiteral("urls"), urls}, {QStringLiteral("mimeType"), mimeType}});
    model.setPluginType(QStringLiteral("Export"));
    int row = 0;
    while (row < model.rowCount() &&
           model.index(row).data(Purpose::AlternativesModel::PluginIdRole) != "movarixplugin")
      ++row;
    ASSERT_LT(row, model.rowCount()) << "not offered";
    EXPECT_EQ(model.index(row).data(Qt::DisplayRole).toString().toStdString(), "Invia con Movarix");
    EXPECT_EQ(model.index(row).data(Purpose::AlternativesModel::IconNameRole), "document-send");
    std::unique_ptr<Purpose::Configuration> configuration(model.configureJob(row));
    configuration->setUseSeparateProcess(false);  // a sanitized plugin needs a sanitized process
    std::unique_ptr<Purpose::Job> job(configuration->createJob());
    job->setAutoDelete(false);
    const std::string error = job->exec() ? "" : job->errorText().toStdString();
    EXPECT_NE(error.find(expectedError), std::string::npos) << error;

    // Every process the job starts runs by the time it reports: give each time to record.
    for (int wait = 0; wait < 100 && listFolder(records).empty() && !*expectedError; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // room for a second process
    const std::vector<std::string> started = listFolder(records);
    std::vector<std::string> arguments;
    ASSERT_EQ(started.size(), *expectedError ? 0u : 1u);
    if (*expectedError) continue;
    const std::string recorded = readFile(records + "/" + started[0]);
    std::remove((records + "/" + started[0]).c_str());
    for (size_t at = 0, end; (end = recorded.find('\0', at)) != std::string::npos; at = end + 1)
      arguments.push_back(recorded.substr(at, end - at));
    ASSERT_EQ(arguments.size(), names.size() + 1) << recorded;
    EXPECT_EQ(arguments[0], "--");
    for (size_t i = 0; i < names.size(); ++i) {  // fully encoded file: URIs, printable ASCII
      const std::string& uri = arguments[i + 1];
      EXPECT_TRUE(uri.starts_with("file:///")) << uri;
      EXPECT_TRUE(std::all_of(uri.begin(), uri.end(), [](char c) { return c > ' ' && c < 127; }));
      EXPECT_EQ(QByteArray::fromPercentEncoding(uri.substr(7).c_str()).toStdString(),
                temp / names[i]);
    }
  }
}

}  // namespace
}  // namespace quillop::testing
