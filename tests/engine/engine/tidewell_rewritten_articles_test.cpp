// SPDX-License-Identifier: MIT
// The application's pass over new episodes reads articles while workers
// rewrite them: every article it reads is one version or the other, never
// an error, also when the older version is cleared away meanwhile.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/model/base_class.h"
#include "engine/tidewell.h"
#include "engine_test_support.h"
#include "support/firebird_test_database.h"

namespace tidewell {
namespace {

using testing::EngineOnDatabase;
using testing::ParkedPool;

constexpr int kArticles = 40;

std::string BodyOf(int article, const std::string& version) {
  return "Body " + std::to_string(article) + " " + version + std::string(2000, 'x');
}

std::unique_ptr<TDbConnWrapper> AttachmentLike(const TDbConnWrapper& model) {
  auto connection = std::make_unique<TDbConnWrapper>();
  connection->SetDBFileName(model.DBFileName());
  connection->SetUser(model.User());
  connection->SetPassword(model.Password());
  connection->Connect();
  return connection;
}

// The filter of the application's pass: articles with an enclosure not yet
// downloaded.
std::unique_ptr<TFilter> NewEpisodesFilter(Ttidewell& engine) {
  std::unique_ptr<TFilter> filter = engine.NewFilter();
  filter->SetField(u"enclosures");
  auto* status = new TFilter(nullptr, true, false);
  status->OperType = 13;
  status->SetField(u"enclosures.download_status");
  status->SetDataType(2);
  status->AddValue(u"0");
  status->Parent = filter.get();
  filter->Conditions->Add(status);
  return filter;
}

// A collection of the data model reading every article's body in the
// model's load pattern, with a hook after each row.
class BodiesOfArticles : public TBaseClass {
 public:
  explicit BodiesOfArticles(TDbConnWrapper* database) : TBaseClass(database) {}
  void LoadById(int32_t, const std::string&, int32_t, int32_t) override {
    LoadRequest request;
    request.lines = {"select id,body from articles order by id"};
    RunLoad(request, [this](TQueryWrapper& query) {
      bodies[query.Fields(0).AsInteger()] = query.Fields(1).AsString();
      if (afterRow) afterRow();
    });
  }
  std::map<int32_t, std::string> bodies;
  std::function<void()> afterRow;
};

class RewrittenArticlesTest : public ::testing::Test {
 protected:
  RewrittenArticlesTest() {
    database.Execute("insert into feeds(feed_id,link,title) values(1,'http://example.org/feed','Feed')");
    for (int id = 1; id <= kArticles; ++id) {
      database.Execute("insert into articles(id,feed_id,title,body) values(" + std::to_string(id) + ",1,'A" +
                       std::to_string(id) + "','" + BodyOf(id, "old") + "')");
      database.Execute("insert into enclosures(enclosure_id,article_id,url_) values(" + std::to_string(id) + "," +
                       std::to_string(id) + ",'http://example.org/" + std::to_string(id) + ".mp3')");
    }
  }

  // A worker on an attachment of its own rewrites every article, the first
  // time only; a reader on a third one clears away the old versions that
  // no transaction holds any more.
  void RewriteOnce() {
    if (rewritten) return;
    rewritten = true;
    for (int id = 1; id <= kArticles; ++id)
      testing_support::RunStatement(*worker, "update articles set body='" + BodyOf(id, "new") +
                                                 "' where id=" + std::to_string(id));
    testing_support::RunStatement(*sweeper, "select count(*) from articles where body like 'Body%'");
  }

  static bool OneVersion(int32_t id, const std::string& body) {
    return body == BodyOf(id, "old") || body == BodyOf(id, "new");
  }

  ParkedPool pool;
  EngineOnDatabase database{{false, pool.Factory()}, true};
  Ttidewell& engine = database.Engine();
  std::unique_ptr<TDbConnWrapper> worker = AttachmentLike(engine.MainConnection());
  std::unique_ptr<TDbConnWrapper> sweeper = AttachmentLike(engine.MainConnection());
  bool rewritten = false;
};

TEST_F(RewrittenArticlesTest, ALoadOfTheModelReadsEachArticleInOneVersionWhileItIsRewritten) {
  BodiesOfArticles articles(&engine.MainConnection());
  articles.afterRow = [this] { RewriteOnce(); };
  ASSERT_NO_THROW(articles.Load("", 0));
  ASSERT_TRUE(rewritten);
  ASSERT_EQ(articles.bodies.size(), static_cast<size_t>(kArticles));
  for (const auto& [id, body] : articles.bodies) EXPECT_TRUE(OneVersion(id, body)) << body;
}

TEST_F(RewrittenArticlesTest, ThePassOverNewEpisodesReadsEachArticleInOneVersionWhileItIsRewritten) {
  TFilterLoadRequest request;
  request.rowCount = 1000;
  request.sortMode = 2;  // grouped by age of the created date: a call per row
  request.onGroup = [&](int32_t, TFilteredArticleProperty*, bool, const std::u16string*,
                        const std::vector<TFilteredArticleProperty*>&, uint8_t event, uint8_t) {
    if (event == kGroupRowAdded) RewriteOnce();
    return true;
  };
  std::unique_ptr<TFilter> filter = NewEpisodesFilter(engine);
  std::unique_ptr<TArticlesByFilter> articles;
  ASSERT_NO_THROW(engine.GetArticlesByFilter(articles, filter.get(), request, 0));
  ASSERT_TRUE(rewritten);
  ASSERT_EQ(articles->GetCount(), kArticles);
  for (int32_t i = 0; i < articles->GetCount(); ++i) {
    const TFilteredArticleProperty& article = *articles->GetItem(i);
    EXPECT_TRUE(OneVersion(article.ArticleId, kt::WideToUtf8(article.Body))) << kt::WideToUtf8(article.Body);
  }
}

}  // namespace
}  // namespace tidewell
