#include <gtest/gtest.h>
#include <stdlib.h>

#include "store/share_store.h"
#include "support/temp_dir.h"

namespace quillop {
namespace {

using testing::TempDir;

// Points XDG_DATA_HOME somewhere for one test and restores it afterwards.
class DataHome {
 public:
  explicit DataHome(const std::string& value) {
    if (const char* old = getenv("XDG_DATA_HOME")) saved_ = old;
    setenv("XDG_DATA_HOME", value.c_str(), 1);
  }
  ~DataHome() {
    if (saved_) setenv("XDG_DATA_HOME", saved_->c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
  }

 private:
  std::optional<std::string> saved_;
};

TEST(SharedDirectory, CreatesThePrivateContainerButNotTheInbox) {
  TempDir temp;
  DataHome home(temp / "data");
  const std::string inbox = ShareStore::sharedDirectory();
  const std::string container = temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac";
  EXPECT_EQ(inbox, container + "/quillop-share-inbox");
  EXPECT_EQ(testing::permissions(container), 0700u);
  EXPECT_FALSE(testing::exists(inbox));
  EXPECT_EQ(ShareStore::sharedDirectory(), inbox);  // a second lookup finds the same container
}

TEST(SharedDirectory, RelativeDataHomeFallsBackToHome) {
  TempDir temp;
  const char* oldHome = getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", temp.path().c_str(), 1);
  {
    DataHome home("relative/data");
    EXPECT_EQ(ShareStore::sharedDirectory(),
              temp / ".local/share/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox");
  }
  setenv("HOME", savedHome.c_str(), 1);
}

TEST(SharedDirectory, ContainerThatCannotBeCreatedIsCodeOne) {
  TempDir temp;
  testing::writeFile(temp / "file", "not a folder");
  DataHome home(temp / "file/data");
  try {
    ShareStore::sharedDirectory();
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.domain(), "QuillopShare");
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.message(),
              "Condivisione Mac non configurata: serve un profilo con App Group autorizzato.");
  }
}

}  // namespace
}  // namespace quillop
