// SPDX-License-Identifier: MIT
// Loading the articles of a filter: columns, feeds, the distinct rule, the
// sort and grouping modes with their callbacks, and the hand-over of a
// cancelled collection.
#include "engine/model/articles_by_filter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/model/model_support.h"
#include "engine/settings/tidewell_globvars.h"
#include "engine/tidewell_utilities.h"
#include "model_test_database.h"
#include "support/scoped_time_zone.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

constexpr uint16_t kTitleBit = 1 << 3;

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const kt::Exception& e) {
    return e.Message();
  }
  return "";
}

int32_t TextKey(const std::string& text) { return static_cast<int32_t>(StringHash(text)); }

class DistinctSetting {
 public:
  explicit DistinctSetting(bool on) : before_(GlobalVars->GetDistinctSmartFeeds()) {
    GlobalVars->SetDistinctSmartFeeds(on);
  }
  ~DistinctSetting() { GlobalVars->SetDistinctSmartFeeds(before_); }

 private:
  bool before_;
};

// Feeds "Alpha" and "Beta". Articles (created, UTC):
//   first_  Alpha  an hour from now  keywords food, fruit  two enclosures not downloaded
//   second_ Beta   2020-01-01        keyword fruit         one enclosure not downloaded
//   third_  Alpha  2019-01-01        no keywords           one enclosure downloaded
class ArticlesByFilterTest : public ::testing::Test {
 protected:
  ArticlesByFilterTest() : zone_(testing_support::kZoneUtc), workShop_(&db_.Connection()) {
    alpha_ = db_.InsertFeed("http://alpha.example/feed");
    beta_ = db_.InsertFeed("http://beta.example/feed");
    db_.Execute("update feeds set title='Alpha' where feed_id=" + std::to_string(alpha_));
    db_.Execute("update feeds set title='Beta' where feed_id=" + std::to_string(beta_));
    first_ = db_.InsertArticle(alpha_, u"First");
    second_ = db_.InsertArticle(beta_, u"Second");
    third_ = db_.InsertArticle(alpha_, u"");
    SetDates(first_, model::UtcNow() + 1.0 / 24, 43831.0);  // modified 2020-01-01
    SetDates(second_, 43831.0, model::UtcNow() + 1.0 / 24);
    SetDates(third_, 43466.0, 43466.0);  // 2019-01-01
    db_.InsertKeyword(first_, "food", false);
    const int32_t fruit = db_.InsertKeyword(first_, "fruit", false);
    db_.Execute("insert into article_keywords(article_id,keyword_id) values(" + std::to_string(second_) + "," +
                std::to_string(fruit) + ")");
    db_.InsertEnclosure(first_, "http://alpha.example/1a.mp3", 0);
    db_.InsertEnclosure(first_, "http://alpha.example/1b.mp3", 0);
    db_.InsertEnclosure(second_, "http://beta.example/2.mp3", 0);
    db_.InsertEnclosure(third_, "http://alpha.example/3.mp3", 2);
    everything_ = Comparison(u"articles.id", 5, 2, u"0");
    articles_ = std::make_unique<TArticlesByFilter>(&db_.Connection());
  }

  void SetDates(int32_t article, double created, double modified) {
    db_.ExecuteWithDateTime("update articles set created=? where id=" + std::to_string(article), created);
    db_.ExecuteWithDateTime("update articles set modified=? where id=" + std::to_string(article), modified);
  }

  // A container root with one comparison.
  std::unique_ptr<TFilter> Comparison(const std::u16string& field, uint8_t op, uint8_t type, const std::u16string& value) {
    auto root = std::make_unique<TFilter>(&workShop_, true, false);
    root->SetField(u"test");
    auto* child = new TFilter(&workShop_, true, false);
    child->OperType = op;
    child->SetField(field);
    child->SetDataType(type);
    child->AddValue(value);
    child->Parent = root.get();
    root->Conditions->Add(child);
    return root;
  }

  // Loads with a callback that records each event as "key:event:article"
  // ("-" for no row), plus the group data in brackets when there is some.
  void LoadRecording(uint8_t mode, bool feedColumns, TFilter* root = nullptr) {
    TFilterLoadRequest request;
    request.root = root != nullptr ? root : everything_.get();
    request.sortMode = mode;
    request.feedColumns = feedColumns;
    request.onGroup = [this](int32_t key, TFilteredArticleProperty* row, bool, const std::u16string* data,
                             const std::vector<TFilteredArticleProperty*>&, uint8_t event, uint8_t) {
      std::string text = std::to_string(key) + ":" + std::to_string(event) + ":" + Name(row);
      if (data != nullptr) text += "[" + kt::WideToUtf8(*data) + "]";
      events_.push_back(text);
      return true;
    };
    TArticlesByFilter::LoadByFilter(articles_, request);
  }

  std::string Name(const TArticleProperty* row) const {
    if (row == nullptr) return "-";
    if (row->ArticleId == first_) return "first";
    if (row->ArticleId == second_) return "second";
    if (row->ArticleId == third_) return "third";
    return "?";
  }

  std::vector<std::string> RowNames() const {
    std::vector<std::string> names;
    for (int32_t i = 0; i < articles_->GetCount(); ++i) names.push_back(Name(articles_->GetItem(i)));
    return names;
  }

  model_testing::ModelTestDatabase db_;
  testing_support::ScopedTimeZone zone_;
  TFilterWorkShop workShop_;
  std::unique_ptr<TFilter> everything_;
  std::unique_ptr<TArticlesByFilter> articles_;
  std::vector<std::string> events_;
  int32_t alpha_ = 0, beta_ = 0, first_ = 0, second_ = 0, third_ = 0;
};

using Names = std::vector<std::string>;

TEST_F(ArticlesByFilterTest, PlainLoadReadsEveryRowWithoutCallingBack) {
  DistinctSetting distinct(false);
  LoadRecording(0, false);

  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(articles_->Loaded);
  EXPECT_TRUE(articles_->Finished);
  ASSERT_EQ(RowNames(), (Names{"first", "second", "third"}));
  const TFilteredArticleProperty* first = articles_->GetItem(0);
  EXPECT_EQ(first->FeedId, alpha_);
  EXPECT_EQ(first->Title, u"First");
  EXPECT_EQ(first->Guid, "g");
  EXPECT_EQ(first->EnclosureCount, 2);
  EXPECT_TRUE(first->ArticleMD5.empty());
  EXPECT_EQ(first->Feed, nullptr);
  EXPECT_EQ(articles_->GetItem(2)->Title, u"body...");
  EXPECT_EQ(MessageOf([&] { articles_->GetItem(3); }), "Feed index out of bounds !");
}

TEST_F(ArticlesByFilterTest, FeedColumnsGiveEachRowItsFeed) {
  LoadRecording(0, true);

  ASSERT_EQ(articles_->GetCount(), 3);
  const TFeedProperty* feed = articles_->GetItem(1)->Feed.get();
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(feed->FeedId, beta_);
  EXPECT_EQ(feed->Title, u"Beta");
  EXPECT_EQ(feed->Link, "http://beta.example/feed");
  EXPECT_FALSE(feed->IsOpml);
  EXPECT_EQ(feed->PageLastModified, -1.0);
}

TEST_F(ArticlesByFilterTest, ColumnMaskPagingAndCreatedSinceNarrowTheLoad) {
  TFilterLoadRequest request;
  request.root = everything_.get();
  request.columnMask = kTitleBit | (1 << 10);
  request.rowCount = 2;
  TArticlesByFilter::LoadByFilter(articles_, request);
  ASSERT_EQ(RowNames(), (Names{"first", "second"}));
  EXPECT_EQ(articles_->GetItem(0)->Title, u"First");
  EXPECT_TRUE(articles_->GetItem(0)->Guid.empty());
  EXPECT_EQ(articles_->GetItem(0)->Created, -1.0);
  EXPECT_EQ(articles_->GetItem(0)->EnclosureCount, 2);

  request = TFilterLoadRequest();
  request.root = everything_.get();
  request.createdSince = 43800.0;  // 2019-11-30
  TArticlesByFilter::LoadByFilter(articles_, request);
  EXPECT_EQ(RowNames(), (Names{"first", "second"}));
}

TEST_F(ArticlesByFilterTest, DistinctSettingReadsEachArticleOnce) {
  std::unique_ptr<TFilter> undownloaded = Comparison(u"enclosures.download_status", 13, 2, u"0");
  {
    DistinctSetting distinct(false);
    LoadRecording(0, false, undownloaded.get());
    EXPECT_EQ(RowNames(), (Names{"first", "first", "second"}));
    LoadRecording(5, false);
    EXPECT_EQ(articles_->GetCount(), 4);
  }
  DistinctSetting distinct(true);
  LoadRecording(0, false, undownloaded.get());
  EXPECT_EQ(RowNames(), (Names{"first", "second"}));
  LoadRecording(5, false);
  EXPECT_EQ(articles_->GetCount(), 3);
}

TEST_F(ArticlesByFilterTest, AgeOfCreatedDateGroupsTheRows) {
  LoadRecording(2, false);
  EXPECT_EQ(events_, (Names{"1:0:first", "1:2:-", "8:0:second", "8:1:third", "8:2:-"}));
  ASSERT_EQ(articles_->Grouper->GroupLists.size(), 2u);
  EXPECT_EQ(articles_->Grouper->GroupLists[1]->rows.size(), 2u);
}

TEST_F(ArticlesByFilterTest, AgeOfModifiedDateGroupsTheRows) {
  LoadRecording(3, false);
  EXPECT_EQ(events_, (Names{"1:0:second", "1:2:-", "8:0:first", "8:1:third", "8:2:-"}));
}

TEST_F(ArticlesByFilterTest, FeedTitleGroupsTheRows) {
  LoadRecording(4, true);
  const std::string alpha = std::to_string(TextKey("Alpha"));
  const std::string beta = std::to_string(TextKey("Beta"));
  EXPECT_EQ(events_, (Names{alpha + ":0:first", alpha + ":1:third", alpha + ":2:-", beta + ":0:second",
                            beta + ":2:-"}));
}

TEST_F(ArticlesByFilterTest, RowsOfOneGroupArrivingApartAreReportedWithTheirGroup) {
  TFilterLoadRequest request;
  request.root = everything_.get();
  request.sortMode = 4;
  request.feedColumns = true;
  request.order = "articles.created desc";
  std::vector<std::string> events;
  std::vector<size_t> sizes;
  request.onGroup = [&](int32_t key, TFilteredArticleProperty* row, bool, const std::u16string*,
                        const std::vector<TFilteredArticleProperty*>& rows, uint8_t event, uint8_t) {
    events.push_back(std::to_string(key) + ":" + std::to_string(event) + ":" + Name(row));
    sizes.push_back(rows.size());
    return true;
  };
  TArticlesByFilter::LoadByFilter(articles_, request);
  const std::string alpha = std::to_string(TextKey("Alpha"));
  const std::string beta = std::to_string(TextKey("Beta"));
  EXPECT_EQ(events, (Names{alpha + ":0:first", alpha + ":2:-", beta + ":0:second", beta + ":2:-",
                           alpha + ":1:third", alpha + ":2:-"}));
  EXPECT_EQ(sizes, (std::vector<size_t>{1, 1, 1, 1, 2, 2}));
}

TEST_F(ArticlesByFilterTest, KeywordGroupsTheRowsWithArticlesWithoutKeywordsUnderEmpty) {
  DistinctSetting distinct(false);
  LoadRecording(5, false);
  const std::string empty = std::to_string(TextKey("empty__"));
  const std::string food = std::to_string(TextKey("food"));
  const std::string fruit = std::to_string(TextKey("fruit"));
  EXPECT_EQ(events_, (Names{empty + ":0:third[]", empty + ":2:-[]", food + ":0:first[food]", food + ":2:-[food]",
                            fruit + ":0:first[fruit]", fruit + ":1:second[fruit]", fruit + ":2:-[fruit]"}));
  EXPECT_EQ(articles_->GetItem(1)->Keyword, u"food");
}

TEST_F(ArticlesByFilterTest, SortModesTheLoadCannotServeAreRefused) {
  TFilterLoadRequest request;
  request.root = everything_.get();
  request.sortMode = 4;
  EXPECT_EQ(MessageOf([&] { TArticlesByFilter::LoadByFilter(articles_, request); }),
            "Group item inpropertly defined");
  request.sortMode = 2;
  request.columnMask = kTitleBit;
  EXPECT_EQ(MessageOf([&] { TArticlesByFilter::LoadByFilter(articles_, request); }),
            "Group item inpropertly defined");
  request.sortMode = 3;
  request.columnMask = kTitleBit | (1 << 1);
  EXPECT_EQ(MessageOf([&] { TArticlesByFilter::LoadByFilter(articles_, request); }),
            "Group item inpropertly defined");
  EXPECT_EQ(articles_->GetCount(), 0);
  EXPECT_TRUE(articles_->Finished);
  request.sortMode = 2;
  TArticlesByFilter::LoadByFilter(articles_, request);
  EXPECT_EQ(articles_->GetCount(), 3);
}

TEST_F(ArticlesByFilterTest, CallbackAnsweringFalseStopsAfterTheFirstRow) {
  TFilterLoadRequest request;
  request.root = everything_.get();
  request.sortMode = 2;
  int calls = 0;
  request.onGroup = [&](int32_t, TFilteredArticleProperty*, bool, const std::u16string*,
                        const std::vector<TFilteredArticleProperty*>&, uint8_t, uint8_t) {
    ++calls;
    return false;
  };
  TArticlesByFilter::LoadByFilter(articles_, request);
  ASSERT_NE(articles_, nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(articles_->GetCount(), 1);
  EXPECT_TRUE(articles_->Loaded);
}

TEST_F(ArticlesByFilterTest, CallbackThatRaisesEndsTheLoadWithItsMessage) {
  TFilterLoadRequest request;
  request.root = everything_.get();
  request.sortMode = 5;
  request.onGroup = [](int32_t, TFilteredArticleProperty*, bool, const std::u16string*,
                       const std::vector<TFilteredArticleProperty*>&, uint8_t, uint8_t) -> bool {
    throw kt::Exception("boom");
  };
  EXPECT_EQ(MessageOf([&] { TArticlesByFilter::LoadByFilter(articles_, request); }),
            "Error in grouping function ! \r\n\r\nboom");
  ASSERT_NE(articles_, nullptr);
  EXPECT_FALSE(articles_->Loaded);
  EXPECT_TRUE(articles_->Finished);
  EXPECT_FALSE(articles_->Transaction->InTransaction());
  // The collection stays usable.
  LoadRecording(0, false);
  EXPECT_EQ(articles_->GetCount(), 3);
}

TEST_F(ArticlesByFilterTest, CancelledLoadFreesTheCollectionAndClearsTheCallersPointer) {
  TFilterLoadRequest request;
  request.root = everything_.get();
  request.sortMode = 2;
  // Setting Cancel hands the collection to the load, as another thread would.
  request.onGroup = [this](int32_t, TFilteredArticleProperty*, bool, const std::u16string*,
                           const std::vector<TFilteredArticleProperty*>&, uint8_t, uint8_t) {
    articles_->Cancel = true;
    return true;
  };
  TArticlesByFilter::LoadByFilter(articles_, request);
  EXPECT_EQ(articles_, nullptr);

  articles_ = std::make_unique<TArticlesByFilter>(&db_.Connection());
  request.onGroup = [this](int32_t, TFilteredArticleProperty*, bool, const std::u16string*,
                           const std::vector<TFilteredArticleProperty*>&, uint8_t, uint8_t) -> bool {
    articles_->Cancel = true;
    throw kt::Exception("cancelled and failed");
  };
  EXPECT_FALSE(MessageOf([&] { TArticlesByFilter::LoadByFilter(articles_, request); }).empty());
  EXPECT_EQ(articles_, nullptr);
}

TEST_F(ArticlesByFilterTest, FilterWithoutConditionsLoadsNothing) {
  TFilter empty(&workShop_, true, false);
  LoadRecording(2, false, &empty);
  EXPECT_EQ(articles_->GetCount(), 0);
  EXPECT_TRUE(articles_->Loaded);
  EXPECT_TRUE(events_.empty());
}

}  // namespace
}  // namespace tidewell
