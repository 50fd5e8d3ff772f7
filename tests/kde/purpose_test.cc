// Loads the real Purpose framework with the plugin from the build tree, finds "Invia con Movarix"
// among the export alternatives for a selection given as Dolphin gives it (QUrl::toString()
// text), runs its job and checks that one process, a recorder standing in for quillop-share, got
// exactly the selection, in order, every byte of every name intact.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QEventLoop>
#include <QCoreApplication>
#include <QJsonArray>
#include <QUrl>
#include <chrono>
#include <memory>
#include <purpose/alternativesmodel.h>
#include <purpose/configuration.h>
#include <purpose/job.h>
#include <thread>

#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

// The path of a file: URI with every %XX decoded; the URI itself must be printable ASCII.
std::string decodedPath(const std::string& uri) {
  std::string path;
  for (size_t i = 0; i < uri.size(); ++i) {
    EXPECT_TRUE(uri[i] > ' ' && uri[i] < 0x7f) << uri;
    if (uri[i] == '%' && i + 2 < uri.size()) {
      path += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  EXPECT_TRUE(path.starts_with("file:///")) << uri;
  return path.substr(7);
}

// Offers and runs the plugin's job as a share menu does; the job's error text ("" when it
// succeeded), or nothing when the plugin is not among the alternatives.
std::optional<std::string> share(const QJsonArray& urls, const QString& mimeType) {
  Purpose::AlternativesModel model;
  model.setInputData({{QStringLiteral("urls"), urls}, {QStringLiteral("mimeType"), mimeType}});
  model.setPluginType(QStringLiteral("Export"));
  for (int row = 0; row < model.rowCount(); ++row) {
    const QModelIndex index = model.index(row);
    if (index.data(Purpose::AlternativesModel::PluginIdRole).toString() != "movarixplugin")
      continue;
    EXPECT_EQ(index.data(Qt::DisplayRole).toString().toStdString(), "Invia con Movarix");
    EXPECT_EQ(index.data(Purpose::AlternativesModel::IconNameRole).toString(), "document-send");
    std::unique_ptr<Purpose::Configuration> configuration(model.configureJob(row));
    EXPECT_TRUE(configuration->isReady());
    // In this process: a sanitized plugin loads only into a sanitized program.
    configuration->setUseSeparateProcess(false);
    Purpose::Job* job = configuration->createJob();
    std::string error;
    QEventLoop loop;
    QObject::connect(job, &KJob::result, [&](KJob* done) {
      error = done->error() ? done->errorText().toStdString() : "";
      loop.quit();
    });
    job->start();
    loop.exec();
    return error;
  }
  return std::nullopt;
}

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
  char name[] = "purpose_test";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);

  const std::string spaced = "a b%41 c #1?.txt", line = "riga\nnuova.txt",
                    accents = "Caffè ☕ città.md", folder = "Cartella 100%";
  makeFolder(temp / folder);
  for (const std::string& file : {spaced, line, accents, folder + "/dentro.txt"})
    writeFile(temp / file, file);
  const std::string link = "https://example.org/a b.txt";
  struct Row {
    const char* label;
    std::vector<std::string> names;  // in the folder, or a URL
    const char* mimeType;
    std::string program;
    const char* error;  // "" when the share starts
  } rows[] = {
      {"one file", {spaced}, "text/plain", recorder, ""},
      {"several files", {line, spaced, accents}, "text/plain", recorder, ""},
      {"a folder", {folder}, "inode/directory", recorder, ""},
      {"a folder and a file", {folder, accents}, "application/octet-stream", recorder, ""},
      {"a file and a link", {spaced, link}, "text/plain", recorder, "non un link."},
      {"no program", {spaced}, "text/plain", temp / "nessuno", "Impossibile avviare"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    temp.setEnv("QUILLOP_SHARE_PROGRAM", row.program);
    QJsonArray urls;
    for (const std::string& item : row.names)
      urls.append(item == link ? QString::fromStdString(link)
                               : QUrl::fromLocalFile(QString::fromStdString(temp / item)).toString());
    const std::optional<std::string> error = share(urls, QString::fromLatin1(row.mimeType));
    ASSERT_TRUE(error) << "not offered";
    EXPECT_NE(error->find(row.error), std::string::npos) << *error;

    // Every process the job starts is running by the time it reports; give each time to record.
    std::vector<std::string> started;
    for (int wait = 0; wait < 100 && (started.empty() || wait < 3); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      started = listFolder(records);
      std::erase_if(started, [](const std::string& file) { return file[0] == '.'; });
      if (*row.error) break;
    }
    std::string recorded;
    for (const std::string& file : started) {
      recorded = readFile(records + "/" + file);
      std::remove((records + "/" + file).c_str());
    }
    ASSERT_EQ(started.size(), *row.error ? 0u : 1u);
    if (*row.error) continue;
    std::vector<std::string> arguments;
    for (size_t start = 0, end; (end = recorded.find('\0', start)) != std::string::npos;
         start = end + 1)
      arguments.push_back(recorded.substr(start, end - start));
    ASSERT_EQ(arguments.size(), row.names.size() + 1) << recorded;
    EXPECT_EQ(arguments[0], "--");
    for (size_t i = 0; i < row.names.size(); ++i)
      EXPECT_EQ(decodedPath(arguments[i + 1]), temp / row.names[i]);
  }
}

}  // namespace
}  // namespace quillop::testing
