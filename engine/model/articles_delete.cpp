// SPDX-License-Identifier: MIT
// TArticles::DeleteArticles: the cascade through table Buffer.
#include <random>

#include "engine/model/articles.h"
#include "engine/model/feeds.h"
#include "engine/model/model_support.h"
#include "platform/system.h"

namespace tidewell {
namespace {

constexpr const char* kBuffer = "buffer";
constexpr int32_t kDownloaded = 2;

// Tells apart the buffer rows of concurrent deletions.
int32_t NewCallKey() {
  static thread_local std::mt19937 random{std::random_device{}()};
  const auto draw = static_cast<uint32_t>(std::uniform_int_distribution<int32_t>(0, 39519)(random));
  return static_cast<int32_t>((draw | platform::TickCount()) & 0x7fffffffu);
}

class Deletion {
 public:
  Deletion(TQueryWrapper* query, const TDynIntArray& ids, int32_t feedId, bool purge)
      : query_(query), ids_(ids), feedId_(feedId), purge_(purge), key_(std::to_string(NewCallKey())) {}

  void Run() {
    CollectArticles();
    const TDynIntArray commentFeeds = CommentFeeds();
    if (!purge_) KeepFileAddresses();
    DeleteArticleDetails();
    KeepStubs();
    if (purge_) {
      PurgeArticles();
    } else {
      BlankArticles();
    }
    DeleteCustomFields();
    Exec({"delete  from " + Buf() + " b where b.uniqId_=" + key_ + " and b.type_ in (1,2)"});
    for (int32_t commentFeed : commentFeeds) TFeeds::DeleteFeed(query_, commentFeed, false);
  }

 private:
  std::string Buf() const { return kBuffer; }
  // The ids of this call's articles, as a sub-select.
  std::string Articles() const {
    return "(select b.itemid_ from " + Buf() + " b where b.uniqId_=" + key_ + " and b.type_=1)";
  }
  void Exec(const std::vector<std::string>& lines) { model::ExecLines(query_, lines); }
  void ExecAtNow(const std::vector<std::string>& lines) {
    model::SetSqlLines(query_, lines);
    query_->Params(0).SetDateTime(model::UtcNow());
    ExecQueryTimed(query_, false);
  }

  void CollectArticles() {
    if (feedId_ >= 1) {
      Exec({"insert into " + Buf() + "(itemid_,type_,uniqId_)", "select id,1," + key_, "from articles",
            "where feed_id=" + std::to_string(feedId_)});
      return;
    }
    for (int32_t id : ids_)
      Exec({"insert into " + Buf() + "(itemid_,type_,uniqId_)" + "values(" + std::to_string(id) + ",1," + key_ + ")"});
  }

  TDynIntArray CommentFeeds() {
    model::SetSqlLines(query_, {"select distinct a.commentfeed_id", "from articles a," + Buf() + " b", "where ",
                                " b.uniqId_=" + key_, " and b.type_=1", " and a.id=b.itemid_", " and a.deleted=0",
                                " and a.commentfeed_id>0"});
    ExecQueryTimed(query_, true);
    TDynIntArray feeds;
    for (; !query_->Eof(); query_->Next()) feeds.push_back(query_->Fields(0).AsInteger());
    SafeCloseQuery(query_);
    return feeds;
  }

  // An article deleted unheard loses its title and files, yet the next
  // document must still tell its episode from the next one at the same
  // page: the addresses of its files stay in its summary, a line each
  // ("length url"), the list ending in a line break (cut by the column,
  // it ends without one and tells nothing).
  void KeepFileAddresses() {
    Exec({"update articles",
          "set summary=coalesce(substring((select list(coalesce(e.size_,0)||' '||e.url_,ascii_char(10))||ascii_char(10)",
          "  from enclosures e where e.article_id=articles.id) from 1 for 1000),'')",
          "where articles.id in " + Articles() + " and coalesce(articles.deleted,0)=0",
          "and not exists(select e.enclosure_id from enclosures e where e.article_id=articles.id and e.download_status=" +
              std::to_string(kDownloaded) + ")"});
  }

  void DeleteArticleDetails() {
    Exec({"delete from enclosures where enclosures.article_id in (select itemid_ from " + Buf() + " where uniqId_=" +
          key_ + " and type_=1) and (coalesce(enclosures.download_status,0)!=2)"});
    Exec({"insert into " + Buf() + "(itemid_,type_,uniqId_)", "select a.link_id,2," + key_,
          "from articles_links a," + Buf() + " b", "where a.article_id=b.itemid_", "  and b.type_=1",
          "  and b.uniqId_=" + key_});
    Exec({"delete from articles_links where exists(select b.itemid_ from " + Buf() +
          " b where b.itemId_=articles_links.article_id and b.uniqId_=" + key_ +
          " and b.type_=1) and articles_links.article_id>0"});
    Exec({"delete from links where exists(select b.itemid_ from " + Buf() +
          " b where b.itemid_=links.link_id and b.uniqId_=" + key_ + " and b.type_=2) and links.link_id>0"});
    Exec({"delete from article_keywords ",
          "where exists(select b.itemId_ from " + Buf() +
              " b where b.itemId_=article_keywords.article_id and b.type_=1 and b.uniqId_=" + key_ + ")",
          "and article_keywords.article_id>0"});
    Exec({"delete from webpages where article_id in (select b.itemid_ from " + Buf() + " b where b.uniqId_=" + key_ +
          " and b.type_=1)"});
  }

  // Articles with a downloaded enclosure become stubs and leave the buffer,
  // so the steps below spare them.
  void KeepStubs() {
    const std::string stubUpdate = "set deleted=2,syncmodified=?,articles_parent=0,commentfeed_id=0 ";
    const std::string hasDownload =
        " and exists(select enclosures.enclosure_id from enclosures where enclosures.article_id=articles.id and "
        "enclosures.download_status=" + std::to_string(kDownloaded) + ")";
    const std::string isStub = " and exists(select articles.id from articles where articles.id=" + Buf() +
                               ".itemid_ and coalesce(articles.deleted,0)=2)";
    const std::string leaveBuffer = "delete from " + Buf() + " where " + Buf() + ".type_=1 and " + Buf() +
                                    ".uniqId_=" + key_;
    if (ids_.empty()) {
      ExecAtNow({"update articles", stubUpdate, "where  articles.id>=0 and articles.id in " + Articles(), hasDownload});
      Exec({leaveBuffer + isStub});
      return;
    }
    for (int32_t id : ids_) {
      if (id <= 0) continue;
      ExecAtNow({"update articles", stubUpdate, "where  articles.id=" + std::to_string(id), hasDownload});
      Exec({leaveBuffer + " and " + Buf() + ".itemid_=" + std::to_string(id) + isStub});
    }
  }

  void PurgeArticles() {
    if (feedId_ < 1) {
      Exec({"delete from articles where id in " + Articles() + " and coalesce(articles.deleted,0)!=2"});
    } else {
      Exec({"delete from articles where feed_id=" + std::to_string(feedId_) + " and coalesce(articles.deleted,0)!=2"});
    }
  }

  void BlankArticles() {
    const std::vector<std::string> head = {
        "update articles",
        "set body='',title='',keywordcache='',deleted=1,syncmodified=?,articles_parent=0,commentfeed_id=0 "};
    if (ids_.empty()) {
      auto lines = head;
      lines.push_back("where  articles.id>=0 and articles.id in " + Articles() + " and coalesce(articles.deleted,0)!=2");
      ExecAtNow(lines);
      return;
    }
    for (int32_t id : ids_) {
      if (id <= 0) continue;
      auto lines = head;
      lines.push_back("where  articles.id=" + std::to_string(id) + " and coalesce(articles.deleted,0)!=2");
      ExecAtNow(lines);
    }
  }

  void DeleteCustomFields() {
    Exec({"delete from articles_customfields_attr", "where exists(select *",
          "             from articles_customfields",
          "             where  articles_customfields.article_id in " + Articles(),
          "             and articles_customfields_attr.articles_customfield_id=articles_customfields.id)"});
    Exec({"delete from articles_customfields where article_id in " + Articles()});
  }

  TQueryWrapper* query_;
  const TDynIntArray& ids_;
  int32_t feedId_;
  bool purge_;
  std::string key_;
};

}  // namespace

void TArticles::DeleteArticles(TQueryWrapper* query, const TDynIntArray& ids, int32_t feedId, bool purge) {
  Deletion(query, ids, feedId, purge).Run();
}

}  // namespace tidewell
