// SPDX-License-Identifier: MIT
// Folder trees: saving them in one transaction, deleting branches, edit
// rights on protected folders, moving filters and folders.
#include "engine/model/tidewell_folders.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "engine/tidewell_msg.h"
#include "model_test_database.h"
#include "platform/system.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

constexpr int32_t kUser = 3;

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const kt::Exception& e) {
    return e.Message();
  }
  return "";
}

class FolderTest : public ::testing::Test {
 protected:
  FolderTest() : management_(&db_.Connection()) { management_.UserId = kUser; }

  TFolder* Root() { return management_.GetRootFolder(); }

  // A new folder below parent.
  TFolder* AddFolder(TFolder* parent, const std::u16string& name) {
    auto* folder = new TFolder(&management_);
    folder->SetName(name);
    EXPECT_TRUE(parent->AddSubFolder(folder));
    return folder;
  }

  // A filter root named name selecting one article title.
  TFilter* NewFilter(const std::u16string& name) {
    auto* root = new TFilter(management_.FilterWorkShop.get(), true, false);
    root->SetField(name);
    auto* child = new TFilter(management_.FilterWorkShop.get(), true, false);
    child->OperType = 3;
    child->SetField(u"articles.title");
    child->AddValue(u"x");
    child->Parent = root;
    root->Conditions->Add(child);
    return root;
  }

  std::string FolderRow(int32_t id) {
    return db_.QueryText("select foldername||'|'||parentFolder||'|'||weight||'|'||userid from folders where id=" +
                         std::to_string(id));
  }
  int64_t Count(const std::string& sqlTail) { return db_.QueryInt64("select count(*) from " + sqlTail); }

  model_testing::ModelTestDatabase db_;
  TFolderManagement management_;
};

TEST_F(FolderTest, SavingANewTreeStoresEveryFolderAndFilterInPlace) {
  TFolder* news = AddFolder(Root(), u"News");
  news->Weight = 4;
  TFolder* sport = AddFolder(news, u"Sport");
  TFolder* music = AddFolder(Root(), u"Music");
  ASSERT_TRUE(news->AddFilter(NewFilter(u"Headlines")));
  ASSERT_TRUE(sport->AddFilter(NewFilter(u"Scores")));

  management_.SaveAll();

  EXPECT_GT(Root()->Id, 0);
  EXPECT_EQ(FolderRow(Root()->Id), "*|0|0|3");
  EXPECT_EQ(FolderRow(news->Id), "News|" + std::to_string(Root()->Id) + "|4|3");
  EXPECT_EQ(FolderRow(sport->Id), "Sport|" + std::to_string(news->Id) + "|0|3");
  EXPECT_EQ(FolderRow(music->Id), "Music|" + std::to_string(Root()->Id) + "|0|3");
  for (TFolder* folder : {Root(), news, sport, music}) EXPECT_EQ(folder->State, TFolder::kStateSaved);
  EXPECT_EQ(db_.QueryInt64("select folderid from sqlfilters where id=" + std::to_string(news->GetFilter(0)->Id)),
            news->Id);
  EXPECT_EQ(db_.QueryText("select field from sqlfilters where folderid=" + std::to_string(sport->Id) +
                          " and parent_node=0"),
            "Scores");
  EXPECT_EQ(Count("sqlfilters where userid=3"), 4);
}

TEST_F(FolderTest, ChangesOfASavedTreeAreWrittenByTheNextSave) {
  TFolder* news = AddFolder(Root(), u"News");
  TFolder* music = AddFolder(Root(), u"Music");
  TFilter* filter = NewFilter(u"Headlines");
  ASSERT_TRUE(news->AddFilter(filter));
  management_.SaveAll();

  news->SetName(u"World news");
  EXPECT_EQ(news->State, TFolder::kStateModified);
  ASSERT_TRUE(music->MoveTo(news));
  ASSERT_TRUE(news->MoveFilter(filter, music));
  EXPECT_EQ(music->State, TFolder::kStateModified);
  management_.SaveAll();

  EXPECT_EQ(FolderRow(news->Id), "World news|" + std::to_string(Root()->Id) + "|0|3");
  EXPECT_EQ(FolderRow(music->Id), "Music|" + std::to_string(news->Id) + "|0|3");
  EXPECT_EQ(db_.QueryInt64("select folderid from sqlfilters where id=" + std::to_string(filter->Id)), music->Id);
  EXPECT_EQ(Count("folders"), 3);
}

TEST_F(FolderTest, NewFiltersNamedAlikeInOneFolderGetNumberedNames) {
  TFolder* folder = AddFolder(Root(), u"Lists");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(folder->AddFilter(NewFilter(u"x")));
  ASSERT_TRUE(folder->AddFilter(NewFilter(u"y")));
  management_.SaveAll();

  EXPECT_EQ(db_.QueryText("select list(field, ',') from (select field from sqlfilters where parent_node=0 "
                          "order by id)"),
            "x,x (1),x (2),y");
  EXPECT_EQ(folder->GetFilter(1)->GetField(), u"x (1)");
}

TEST_F(FolderTest, AFailedSaveRollsBackAndLeavesTheTreeReadyToSaveAgain) {
  TFolder* news = AddFolder(Root(), u"News");
  ASSERT_TRUE(news->AddFilter(NewFilter(u"x")));
  ASSERT_TRUE(news->AddFilter(NewFilter(u"x")));
  // A folder the database refuses, saved after the others.
  TFolder* broken = management_.NewFolder(u"Broken", 0, 0);
  broken->State = TFolder::kStateNew;
  broken->Id = 99;
  ASSERT_TRUE(Root()->AddSubFolder(broken));

  EXPECT_EQ(MessageOf([&] { management_.SaveAll(); }), "Failed to save folder");
  EXPECT_EQ(Count("folders"), 0);
  EXPECT_EQ(Count("sqlfilters"), 0);
  EXPECT_EQ(Root()->Id, 0);
  EXPECT_EQ(news->Id, 0);
  EXPECT_EQ(news->State, TFolder::kStateNew);
  EXPECT_EQ(news->GetFilter(0)->Id, 0);
  EXPECT_EQ(news->GetFilter(1)->GetField(), u"x");

  broken->Id = 0;
  management_.SaveAll();
  EXPECT_EQ(Count("folders"), 3);
  EXPECT_EQ(db_.QueryText("select list(field, ',') from (select field from sqlfilters where parent_node=0 "
                          "order by id)"),
            "x,x (1)");
}

TEST_F(FolderTest, DeletingABranchRemovesItsFoldersFiltersAndVariables) {
  TFolder* news = AddFolder(Root(), u"News");
  TFolder* sport = AddFolder(news, u"Sport");
  TFolder* keep = AddFolder(Root(), u"Keep");
  ASSERT_TRUE(news->AddFilter(NewFilter(u"Headlines")));
  ASSERT_TRUE(sport->AddFilter(NewFilter(u"Scores")));
  ASSERT_TRUE(keep->AddFilter(NewFilter(u"Kept")));
  management_.SaveAll();
  db_.Execute("insert into variables(type_,itemid,variablename_,value_,userid) values('folder'," +
              std::to_string(sport->Id) + ",'link','http://example.org/opml',3)");
  db_.Execute("insert into variables(type_,itemid,variablename_,value_,userid) values('folder'," +
              std::to_string(keep->Id) + ",'link','http://example.org/keep',3)");

  TFolder* doomed = news;
  EXPECT_TRUE(TFolder::Delete(doomed));

  EXPECT_EQ(doomed, nullptr);
  EXPECT_EQ(Root()->SubFolderCount(), 1);
  EXPECT_EQ(Root()->GetSubFolder(0), keep);
  EXPECT_EQ(Count("folders"), 2);
  EXPECT_EQ(Count("variables where type_='folder'"), 1);
  EXPECT_EQ(Count("sqlfilters where parent_node=0"), 1);
  EXPECT_EQ(Count("sqlfiltervalues"), 1);
}

TEST_F(FolderTest, DeletingTheRootEmptiesItButKeepsIt) {
  TFolder* news = AddFolder(Root(), u"News");
  ASSERT_TRUE(news->AddFilter(NewFilter(u"Headlines")));
  ASSERT_TRUE(Root()->AddFilter(NewFilter(u"Top")));
  management_.SaveAll();
  const int32_t rootId = Root()->Id;

  TFolder* root = Root();
  EXPECT_TRUE(TFolder::Delete(root));

  EXPECT_EQ(root, Root());
  EXPECT_EQ(Root()->Id, rootId);
  EXPECT_EQ(Root()->State, TFolder::kStateSaved);
  EXPECT_EQ(Root()->SubFolderCount(), 0);
  EXPECT_EQ(Root()->FilterCount(), 0);
  EXPECT_EQ(Count("folders"), 1);
  EXPECT_EQ(Count("sqlfilters"), 0);
}

TEST_F(FolderTest, AFailedDeletionPutsTheBranchBack) {
  TFolder* news = AddFolder(Root(), u"News");
  TFolder* sport = AddFolder(news, u"Sport");
  TFilter* filter = NewFilter(u"Scores");
  ASSERT_TRUE(sport->AddFilter(filter));
  management_.SaveAll();
  db_.Execute("drop table variables");

  TFolder* doomed = news;
  EXPECT_FALSE(MessageOf([&] { TFolder::Delete(doomed); }).empty());

  EXPECT_EQ(doomed, news);
  ASSERT_EQ(Root()->SubFolderCount(), 1);
  ASSERT_EQ(news->SubFolderCount(), 1);
  EXPECT_EQ(news->GetSubFolder(0), sport);
  EXPECT_EQ(sport->GetFilter(0), filter);
  EXPECT_EQ(news->State, TFolder::kStateSaved);
  EXPECT_EQ(Count("folders"), 3);
  EXPECT_EQ(Count("sqlfilters"), 2);
}

TEST_F(FolderTest, DeletingAFilterRemovesItsRowsAndClearsTheVariable) {
  TFolder* news = AddFolder(Root(), u"News");
  TFilter* filter = NewFilter(u"Headlines");
  ASSERT_TRUE(news->AddFilter(filter));
  management_.SaveAll();

  TFilter* stranger = NewFilter(u"Stranger");
  EXPECT_EQ(MessageOf([&] { news->DeleteFilter(stranger); }), "Filter class not found");
  delete stranger;
  EXPECT_TRUE(news->DeleteFilter(filter));
  EXPECT_EQ(filter, nullptr);
  EXPECT_EQ(news->FilterCount(), 0);
  EXPECT_EQ(Count("sqlfilters"), 0);

  TFolder loose(nullptr);
  TFilter* other = NewFilter(u"Other");
  ASSERT_TRUE(loose.AddFilter(other));
  EXPECT_EQ(MessageOf([&] { loose.DeleteFilter(other); }),
            "Can't perform this operation ! Managment class is missing");
}

TEST_F(FolderTest, SubFolderListChecksWhatItTakes) {
  TSubFolders list;
  EXPECT_EQ(MessageOf([&] { list.Add(nullptr); }), "Folder is unassigned");
  auto* unnamed = new TFolder(&management_);
  EXPECT_EQ(MessageOf([&] { list.Add(unnamed); }), "Folder has no name");
  unnamed->SetName(u"Named");
  list.Add(unnamed);
  list.Add(unnamed);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(MessageOf([&] { list.GetItem(1); }), "Invalid item index");
  EXPECT_EQ(MessageOf([&] { Root()->GetFilter(0); }), "Invalid item index");
}

// ---- Edit rights ----------------------------------------------------------------

TEST_F(FolderTest, ProtectedFoldersChangeOnlyForThreadsWithAnEditRight) {
  TFolder* opml = AddFolder(Root(), u"Subscriptions");
  opml->Access = 1;
  TFolder* open = AddFolder(Root(), u"Open");
  TFilter* filter = NewFilter(u"Feed");

  bool added = true;
  std::thread([&] { added = opml->AddFilter(filter); }).join();
  EXPECT_FALSE(added);
  EXPECT_EQ(opml->FilterCount(), 0);

  std::thread([&] {
    const int64_t self = platform::CurrentThreadId();
    management_.SetEditRight(self);
    added = opml->AddFilter(filter);
    management_.SetEditRight(-self);
  }).join();
  EXPECT_TRUE(added);
  EXPECT_EQ(opml->FilterCount(), 1);

  // The main thread holds no right either.
  EXPECT_FALSE(opml->MoveFilter(filter, open));
  EXPECT_FALSE(open->AddSubFolder(opml));
  EXPECT_FALSE(opml->MoveTo(open));
  TFolder* doomed = opml;
  EXPECT_FALSE(TFolder::Delete(doomed));
  EXPECT_EQ(opml->FilterCount(), 1);
  EXPECT_EQ(opml->Parent, Root());
}

TEST_F(FolderTest, EditRightsAreCountedPerGrant) {
  const int64_t self = platform::CurrentThreadId();
  management_.SetEditRight(self);
  management_.SetEditRight(self);
  management_.SetEditRight(-self);
  EXPECT_TRUE(management_.HasEditRight());
  management_.SetEditRight(-self);
  EXPECT_FALSE(management_.HasEditRight());
}

// ---- Moving ----------------------------------------------------------------------

TEST_F(FolderTest, MovingAllFiltersGathersThemFromTheWholeBranch) {
  TFolder* source = AddFolder(Root(), u"Source");
  TFolder* below = AddFolder(source, u"Below");
  TFolder* target = AddFolder(Root(), u"Target");
  ASSERT_TRUE(source->AddFilter(NewFilter(u"a")));
  ASSERT_TRUE(below->AddFilter(NewFilter(u"b")));

  management_.MoveAllFilters(source, target, false);
  EXPECT_EQ(target->FilterCount(), 1);
  EXPECT_EQ(below->FilterCount(), 1);
  management_.MoveAllFilters(source, target, true);
  EXPECT_EQ(target->FilterCount(), 2);
  EXPECT_EQ(below->FilterCount(), 0);

  target->Access = 1;
  ASSERT_TRUE(source->AddFilter(NewFilter(u"c")));
  EXPECT_EQ(MessageOf([&] { management_.MoveAllFilters(source, target, true); }), "Filter move failed !");
  EXPECT_EQ(source->FilterCount(), 1);
}

TEST_F(FolderTest, MovingAllFiltersIntoTheSameBranchEndsAndChangesNothing) {
  TFolder* source = AddFolder(Root(), u"Source");
  TFolder* below = AddFolder(source, u"Below");
  TFilter* first = NewFilter(u"a");
  ASSERT_TRUE(source->AddFilter(first));
  ASSERT_TRUE(below->AddFilter(NewFilter(u"b")));

  management_.MoveAllFilters(source, source, false);
  management_.MoveAllFilters(source, source, true);
  management_.MoveAllFilters(source, below, true);

  EXPECT_EQ(source->FilterCount(), 1);
  EXPECT_EQ(source->GetFilter(0), first);
  EXPECT_EQ(below->FilterCount(), 1);
}

TEST_F(FolderTest, AFolderCannotMoveIntoItsOwnBranch) {
  TFolder* news = AddFolder(Root(), u"News");
  TFolder* sport = AddFolder(news, u"Sport");

  EXPECT_FALSE(news->MoveTo(sport));
  EXPECT_FALSE(news->MoveTo(news));
  EXPECT_FALSE(sport->AddSubFolder(news));
  EXPECT_FALSE(sport->AddSubFolder(Root()));
  EXPECT_EQ(news->Parent, Root());
  EXPECT_EQ(sport->Parent, news);
  EXPECT_EQ(MessageOf([&] { news->MoveTo(nullptr); }), "Folder not found !");

  ASSERT_TRUE(Root()->AddSubFolder(sport));
  EXPECT_EQ(sport->Parent, Root());
  EXPECT_EQ(news->SubFolderCount(), 0);
  EXPECT_EQ(Root()->SubFolderCount(), 2);
}

TEST_F(FolderTest, MovingFilterIdsToAFolderTouchesOnlyTheOwnersRows) {
  TFolder* news = AddFolder(Root(), u"News");
  TFilter* filter = NewFilter(u"Headlines");
  ASSERT_TRUE(news->AddFilter(filter));
  management_.SaveAll();
  db_.Execute("insert into sqlfilters(parent_node,field,operType,datatype,folderid,weight,userid) "
              "values(0,'other',0,1,1,0,4)");

  const int32_t otherId = static_cast<int32_t>(db_.QueryInt64("select id from sqlfilters where userid=4"));
  management_.MoveFiltersToFolder({filter->Id, otherId}, 0);

  EXPECT_EQ(db_.QueryInt64("select folderid from sqlfilters where id=" + std::to_string(filter->Id)), 0);
  EXPECT_EQ(db_.QueryInt64("select folderid from sqlfilters where id=" + std::to_string(otherId)), 1);
}

TEST_F(FolderTest, AStoredTreeIsReadBackWithItsFiltersAndOnlyForItsUser) {
  TFolder* news = AddFolder(Root(), u"News");
  news->Weight = 4;
  TFolder* sport = AddFolder(news, u"Sport");
  TFilter* scores = NewFilter(u"Scores");
  scores->Conditions->GetItem(0)->AddValue(u"y");
  ASSERT_TRUE(sport->AddFilter(scores));
  ASSERT_TRUE(Root()->AddFilter(NewFilter(u"Everything")));
  management_.SaveAll();
  db_.Execute("insert into variables(type_,itemid,variablename_,value_) values('folder'," + std::to_string(news->Id) +
              ",'opmlfolder','17')");
  db_.Execute("insert into folders(parentFolder,foldername,weight,userid) values(0,'*',0," + std::to_string(kUser + 1) +
              ")");

  TFolderManagement again(&db_.Connection());
  again.UserId = kUser;
  again.LoadFromDatabase();
  TFolder* root = again.GetRootFolder();
  EXPECT_EQ(root->Id, Root()->Id);
  ASSERT_EQ(root->SubFolderCount(), 1);
  ASSERT_EQ(root->FilterCount(), 1);
  EXPECT_EQ(root->GetFilter(0)->GetField(), u"Everything");
  TFolder* loadedNews = root->GetSubFolder(0);
  EXPECT_EQ(loadedNews->GetName(), u"News");
  EXPECT_EQ(loadedNews->Weight, 4);
  EXPECT_EQ(loadedNews->Access, 17);
  EXPECT_EQ(loadedNews->State, TFolder::kStateSaved);
  ASSERT_EQ(loadedNews->SubFolderCount(), 1);
  TFolder* loadedSport = loadedNews->GetSubFolder(0);
  EXPECT_EQ(loadedSport->Parent, loadedNews);
  ASSERT_EQ(loadedSport->FilterCount(), 1);
  TFilter* loadedScores = loadedSport->GetFilter(0);
  EXPECT_EQ(loadedScores->Id, scores->Id);
  ASSERT_EQ(loadedScores->Conditions->Count(), 1);
  TFilter* condition = loadedScores->Conditions->GetItem(0);
  EXPECT_EQ(condition->Parent, loadedScores);
  EXPECT_EQ(condition->OperType, 3);
  EXPECT_EQ(condition->GetField(), u"articles.title");
  ASSERT_EQ(condition->GetValueCount(), 2);

  // Saving the loaded tree changes nothing; a protected folder stays protected.
  again.SaveAll();
  EXPECT_EQ(Count("folders where userid=" + std::to_string(kUser)), 3);
  EXPECT_EQ(Count("sqlfilters where userid=" + std::to_string(kUser)), 4);
  const std::unique_ptr<TFilter> refused(NewFilter(u"Refused"));
  EXPECT_FALSE(loadedNews->AddFilter(refused.get()));
}

}  // namespace
}  // namespace tidewell
