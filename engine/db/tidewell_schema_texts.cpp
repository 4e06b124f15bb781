// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_schema_texts.h"

#include <cstring>

namespace tidewell {
namespace {

std::string ColumnTypeSql(const std::string& type) {
  if (type == "INTEGER PRIMARY KEY") return "INTEGER NOT NULL PRIMARY KEY";
  if (type == "BLOB (sub-type 0)") return "BLOB SUB_TYPE 0";
  const std::string utf8 = " UTF8";
  if (type.size() > utf8.size() && type.compare(type.size() - utf8.size(), utf8.size(), utf8) == 0)
    return type.substr(0, type.size() - utf8.size()) + " character set UTF8";
  return type;
}

std::string ColumnSql(const TableColumn& column) {
  std::string text = std::string(column.name) + " " + ColumnTypeSql(column.type);
  if (std::strcmp(column.type, "INTEGER PRIMARY KEY") == 0) return text;
  if (*column.defaultValue != '\0') text += std::string(" DEFAULT ") + column.defaultValue;
  if (column.notNull) text += " NOT NULL";
  return text;
}

}  // namespace

const std::vector<TableDefinition>& SchemaTables() {
  static const std::vector<TableDefinition> tables = {
    {"FileCache", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"articleid", "INTEGER", "0", true},
        {"linkid", "INTEGER", "0", true},
        {"hostdir", "VARCHAR(255)", "''", true},
        {"filename", "VARCHAR(512)", "''", true},
        {"webpagelastmod", "TIMESTAMP", "", false},
        {"eTag", "VARCHAR(80)", "''", true},
        {"lastHTTPCode", "INTEGER", "0", true},
        {"cookie", "VARCHAR(512)", "''", true},
        {"size_", "INTEGER", "0", true},
        {"contentType", "VARCHAR(255)", "''", true},
        {"language_", "VARCHAR(15)", "''", true},
        {"username_", "VARCHAR(50)", "''", true},
        {"password_", "VARCHAR(255)", "''", true},
        {"created", "TIMESTAMP", "CURRENT_TIMESTAMP", false},
        {"modified", "TIMESTAMP", "CURRENT_TIMESTAMP", false},
        {"status", "SMALLINT", "0", true},
        {"type_", "SMALLINT", "0", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Folders", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"parentFolder", "INTEGER", "0", true},
        {"folderName", "VARCHAR(512) UTF8", "", true},
        {"weight", "SMALLINT", "0", true},
        {"subscribed", "SMALLINT", "0", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"SQLFilters", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"folderId", "INTEGER", "0", true},
        {"weight", "SMALLINT", "0", true},
        {"parent_node", "INTEGER", "", false},
        {"field", "VARCHAR(512) UTF8", "", true},
        {"operType", "INTEGER", "0", true},
        {"datatype", "SMALLINT", "0", true},
        {"subscribed", "SMALLINT", "0", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"SQLFilterValues", "", {
        {"node_id", "INTEGER", "", true},
        {"value_", "VARCHAR(512) UTF8", "", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Webpages", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"article_id", "INTEGER", "", true},
        {"link_id", "INTEGER", "", true},
        {"content", "BLOB (sub-type 0)", "", true},
        {"last_updated", "TIMESTAMP", "CURRENT_TIMESTAMP", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Articles", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"guid", "VARCHAR(255) UTF8", "''", true},
        {"feed_id", "INTEGER", "0", true},
        {"articles_parent", "INTEGER", "0", true},
        {"created", "TIMESTAMP", "CURRENT_TIMESTAMP", false},
        {"createdTZ", "VARCHAR(20)", "''", true},
        {"modified", "TIMESTAMP", "CURRENT_TIMESTAMP", false},
        {"modifiedTZ", "VARCHAR(20)", "''", true},
        {"title", "VARCHAR(512) UTF8", "''", true},
        {"summary", "VARCHAR(1000)", "''", true},
        {"creator", "VARCHAR(128) UTF8", "''", true},
        {"body", "BLOB SUB_TYPE TEXT UTF8", "''", true},
        {"link", "VARCHAR(1000)", "''", true},
        {"readstatus", "SMALLINT", "0", true},
        {"flag", "SMALLINT", "0", true},
        {"rating", "SMALLINT", "0", true},
        {"articleMD5", "VARCHAR(200)", "''", true},
        {"lastTimeUpdated", "TIMESTAMP", "CURRENT_TIMESTAMP", false},
        {"keywordCache", "VARCHAR(3000) UTF8", "''", true},
        {"deleted", "SMALLINT", "0", true},
        {"userid", "INTEGER", "0", true},
        {"syncmodified", "TIMESTAMP", "", false},
        {"commentfeed_id", "INTEGER", "0", true},
    }},
    {"Keywords", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"parentKeyword_id", "INTEGER", "0", true},
        {"value_", "VARCHAR(512) UTF8", "''", true},
        {"isuserdefined", "SMALLINT", "1", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Article_KeyWords", "", {
        {"article_id", "INTEGER", "", true},
        {"keyword_id", "INTEGER", "", true},
        {"dummy", "SMALLINT", "0", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Articles_customfields", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"article_id", "INTEGER", "0", true},
        {"customfield_id", "INTEGER", "0", true},
        {"value_", "VARCHAR(1000) UTF8", "''", true},
        {"valid", "SMALLINT", "1", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Articles_customfields_attr", "", {
        {"articles_customfield_id", "INTEGER", "0", true},
        {"attrb_id", "INTEGER", "0", true},
        {"attr_value", "VARCHAR(1000) UTF8", "''", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Articles_links", "", {
        {"article_id", "INTEGER", "0", true},
        {"link_id", "INTEGER", "0", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Customfield_definitions", "customfield_id", {
        {"customfield_id", "INTEGER PRIMARY KEY", "", true},
        {"customfield_tag", "VARCHAR(200) UTF8", "''", true},
        {"valid", "SMALLINT", "1", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Customfield_Attributes", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"attr_name", "VARCHAR(255)", "''", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Enclosures", "enclosure_id", {
        {"enclosure_id", "INTEGER PRIMARY KEY", "", true},
        {"article_id", "INTEGER", "0", true},
        {"url_", "VARCHAR(8191)", "''", true},
        {"size_", "INTEGER", "0", true},
        {"type_", "VARCHAR(85)", "''", true},
        {"download_status", "SMALLINT", "0", true},
        {"filelocation", "VARCHAR(512)", "''", true},
        {"downloadStart", "TIMESTAMP", "CURRENT_TIMESTAMP", false},
        {"downloadEnd", "TIMESTAMP", "CURRENT_TIMESTAMP", false},
        {"valid", "SMALLINT", "1", true},
        {"userid", "INTEGER", "0", true},
        {"encLongDescr", "VARCHAR(1000) UTF8", "''", true},
        {"lastHTTPCode", "INTEGER", "0", true},
    }},
    {"Feeds", "feed_id", {
        {"feed_id", "INTEGER PRIMARY KEY", "", true},
        {"title", "VARCHAR(512) UTF8", "''", true},
        {"link", "VARCHAR(1000)", "''", true},
        {"linkType", "VARCHAR(35)", "''", true},
        {"description", "VARCHAR(1000) UTF8", "''", true},
        {"type_", "VARCHAR(10)", "''", true},
        {"archivesize", "INTEGER", "0", true},
        {"homepage", "VARCHAR(512)", "''", true},
        {"favicon", "VARCHAR(255)", "", false},
        {"image", "VARCHAR(255)", "", false},
        {"language_", "VARCHAR(5)", "''", true},
        {"feedmodified", "TIMESTAMP", "", false},
        {"feedmodifiedTZ", "VARCHAR(20)", "''", true},
        {"last_feedupdate", "TIMESTAMP", "CURRENT_TIMESTAMP", true},
        {"next_feedupdate", "TIMESTAMP", "CURRENT_TIMESTAMP", true},
        {"feedCreated", "TIMESTAMP", "CURRENT_TIMESTAMP", true},
        {"feedCreatedTZ", "VARCHAR(20)", "''", true},
        {"etag", "VARCHAR(80)", "''", true},
        {"page_lastmodified", "TIMESTAMP", "", false},
        {"page_lastmodifiedTZ", "VARCHAR(10)", "''", true},
        {"username_", "VARCHAR(50)", "''", true},
        {"password_", "VARCHAR(255)", "''", true},
        {"feedMD5", "VARCHAR(200)", "''", true},
        {"httpGetTime", "INTEGER", "0", true},
        {"update_interval", "SMALLINT", "0", true},
        {"keywordSeparator", "VARCHAR(5)", "''", true},
        {"skipFeed", "SMALLINT", "0", true},
        {"lastFeedProcessingError", "VARCHAR(200)", "''", true},
        {"lastHTTPCode", "INTEGER", "0", true},
        {"feedRating", "SMALLINT", "0", true},
        {"parentFeed", "INTEGER", "0", true},
        {"rtlEnabled", "SMALLINT", "0", true},
        {"OPMLdescr", "VARCHAR(3000) UTF8", "''", true},
        {"userid", "INTEGER", "0", true},
        {"priority", "INTEGER", "0", true},
    }},
    {"Feed_NameSpaces", "", {
        {"feed_id", "INTEGER", "0", true},
        {"nameSpaceIdf", "VARCHAR(85)", "''", true},
        {"nameSpaceVal", "VARCHAR(255)", "''", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Feeds_customfields", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"feed_id", "INTEGER", "0", true},
        {"customfield_id", "INTEGER", "0", true},
        {"value_", "VARCHAR(1000) UTF8", "''", true},
        {"valid", "SMALLINT", "1", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Feeds_customfields_attr", "", {
        {"feed_customfield_id", "INTEGER", "0", true},
        {"attrb_id", "INTEGER", "0", true},
        {"attr_value", "VARCHAR(1000) UTF8", "''", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Links", "link_id", {
        {"link_id", "INTEGER PRIMARY KEY", "", true},
        {"link", "VARCHAR(1000)", "''", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Variables", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"itemId", "INTEGER", "0", true},
        {"type_", "VARCHAR(10)", "''", true},
        {"variableName_", "VARCHAR(50) UTF8", "''", true},
        {"value_", "VARCHAR(1000) UTF8", "''", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Feeds2OpmlMapping", "id", {
        {"id", "INTEGER PRIMARY KEY", "", true},
        {"opmlId", "INTEGER", "0", true},
        {"boundWithFeed", "INTEGER", "0", true},
        {"created", "TIMESTAMP", "CURRENT_TIMESTAMP", true},
        {"flags", "INTEGER", "0", true},
        {"userid", "INTEGER", "0", true},
    }},
    {"Buffer", "", {
        {"itemId_", "INTEGER", "0", true},
        {"type_", "SMALLINT", "0", true},
        {"uniqId_", "INTEGER", "0", true},
        {"misc_", "INTEGER", "0", true},
        {"timestamp_", "TIMESTAMP", "CURRENT_TIMESTAMP", true},
        {"userid", "INTEGER", "0", true},
    }},
  };
  return tables;
}

const std::vector<IndexDefinition>& SchemaIndexes() {
  static const std::vector<IndexDefinition> indexes = {
      {"FileCache", "articleId,linkId", "IDX_FileCache_uniqartLinkc", true, false},
      {"SQLFilters", "parent_node", "IDX_SQLFilters_", false, false},
      {"Webpages", "article_id", "IDX_Webpages_", false, false},
      {"Articles", "link", "IDX_Articles_link", false, false},
      {"Articles", "feed_id", "IDX_Articles_feed_id", false, false},
      {"Articles", "created", "IDX_Articles_created", false, true},
      {"Articles", "title", "IDX_Articles_title", false, false},
      {"Articles", "modified", "IDX_Articles_modified", false, false},
      {"Articles", "readstatus", "IDX_Articles_readstatus", false, false},
      {"Articles", "flag", "IDX_Articles_flag", false, false},
      {"Articles", "deleted", "delIndx", false, false},
      {"Articles", "commentfeed_id", "commentfeedidx", false, false},
      {"Articles", "articles_parent", "parentartidx", false, false},
      {"Keywords", "value_", "IDX_Keywords_", true, false},
      {"Article_KeyWords", "article_id,keyword_id", "IDX_Article_KeyWords_", true, false},
      {"Articles_customfields", "article_id", "IDX_Articles_customfields_1", false, false},
      {"Articles_customfields", "value_", "IDX_Articles_customfields_2", false, false},
      {"Articles_customfields_attr", "articles_customfield_id,attrb_id", "IDX_Articles_customfields_attr_", true,
       false},
      {"Articles_links", "article_id,link_id", "IDX_Articles_links_", false, false},
      {"Customfield_definitions", "customfield_tag", "IDX_Customfield_definitions_", true, false},
      {"Customfield_Attributes", "attr_name", "IDX_Customfield_Attributes_", true, false},
      {"Enclosures", "article_id", "IDX_Enclosures_", false, false},
      {"Feeds", "link", "IDX_Feeds_1", false, false},
      {"Feeds", "type_", "IDX_Feeds_2", false, false},
      {"Feeds", "language_", "IDX_Feeds_3", false, false},
      {"Feeds", "parentFeed", "IDX_Feeds_5", false, false},
      {"Feeds_customfields", "feed_id", "IDX_Feeds_customfields_1", false, false},
      {"Feeds_customfields", "value_", "IDX_Feeds_customfields_2", false, false},
      {"Feeds_customfields_attr", "feed_customfield_id,attrb_id", "IDX_Feeds_customfields_attr_", true, false},
      {"Links", "link", "IDX_Links_", true, false},
      {"Variables", "itemId", "IDX_Variables_1", false, false},
      {"Variables", "type_", "IDX_Variables_2", false, false},
      {"Variables", "variableName_", "IDX_Variables_3", false, false},
      {"Feeds2OpmlMapping", "opmlId", "IDX_Feeds2OpmlMapping_1", false, false},
      {"Feeds2OpmlMapping", "boundWithFeed", "IDX_Feeds2OpmlMapping_2", false, false},
      {"Buffer", "itemId_,type_,uniqId_", "IDX_Buffer_", false, false},
  };
  return indexes;
}

std::string CreateTableSql(const TableDefinition& table) {
  std::string text = std::string("CREATE TABLE ") + table.name + " (";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    text += i == 0 ? "\n  " : ",\n  ";
    text += ColumnSql(table.columns[i]);
  }
  return text + ")";
}

std::string CreateGeneratorSql(const std::string& table) { return "CREATE GENERATOR " + table + "_id_gen"; }

std::string CreateIdTriggerSql(const std::string& table, const std::string& column) {
  return "CREATE TRIGGER " + table + "_id_trig FOR " + table + "\n" +
         "ACTIVE BEFORE INSERT POSITION 0\n"
         "AS\n"
         "BEGIN\n"
         "IF (NEW." + column + " IS NULL) THEN\n" +
         "    NEW." + column + " = GEN_ID(" + table + "_id_gen,1);\n" +
         "END";
}

namespace {

std::string WithoutMarker(std::string text) {
  const auto at = text.find(kDescendingIndexMarker);
  if (at != std::string::npos) text.erase(at, std::strlen(kDescendingIndexMarker));
  return text;
}

}  // namespace

std::string IndexName(const std::string& table, const std::string& explicitName, const std::string& suffix) {
  return WithoutMarker(explicitName.empty() ? "IDX_" + table + "_" + suffix : explicitName);
}

std::string CreateIndexSql(const std::string& table, const std::string& columns, const std::string& explicitName,
                           bool unique, const std::string& suffix) {
  const bool descending = table.find(kDescendingIndexMarker) != std::string::npos;
  const std::string word = unique ? "UNIQUE" : descending ? "DESCENDING" : "";
  return "CREATE " + word + " INDEX " + IndexName(table, explicitName, suffix) + " ON " + WithoutMarker(table) +
         "(" + columns + ")";
}

std::string KeywordCacheTriggerSql(bool alter) {
  const std::string head =
      alter ? "ALTER TRIGGER ARTICLE_KEYWORDCache" : "CREATE TRIGGER ARTICLE_KEYWORDCache FOR Article_KeyWords";
  return head +
         "\n"
         "ACTIVE AFTER INSERT OR UPDATE POSITION 0\n"
         "AS\n"
         "BEGIN\n"
         // A writer that stored the article with its keywords in the cache
         // says so for the rest of its transaction.
         " if ((INSERTING or UPDATING) and rdb$get_context('USER_TRANSACTION','KEYWORDCACHE_WRITTEN') is null) then\n"
         "  begin\n"
         "    update articles\n"
         "    set keywordCache=substring(\n"
         "    (coalesce(case\n"
         "              when articles.keywordCache!='' then\n"
         "                 (articles.keywordCache||', ') collate utf8\n"
         "              else\n"
         "              ''  \n"
         "    end,'') collate utf8 || \n"
         "    coalesce((select first (1) distinct coalesce(keywords.value_,'') collate utf8\n"
         "              from  keywords\n"
         "              where keywords.id=new.keyword_id),'') collate utf8)\n"
         "     from 1 for 3000)\n"
         "     where  articles.id=new.article_id;\n"
         "     when any do\n"
         "          exit;\n"
         "  end\n"
         "END";
}

std::string KeywordDeleteTriggerSql(bool alter) {
  const std::string head =
      alter ? "ALTER TRIGGER ARTICLE_KEYWORDS_DEL" : "CREATE TRIGGER ARTICLE_KEYWORDS_DEL FOR ARTICLE_KEYWORDS";
  // The cache is emptied whatever the article's deleted state: the remaining
  // rows are touched below in every case, and a cache left filled would take
  // each of their keywords a second time.
  return head +
         "\n"
         "ACTIVE AFTER DELETE POSITION 1\n"
         "AS\n"
         "BEGIN\n"
         " update articles\n"
         " set    articles.keywordcache=''\n"
         " where  articles.id=old.article_id;\n"
         "  update article_keywords\n"
         "  set dummy=dummy+1\n"
         "  where article_keywords.article_id=old.article_id;\n"
         "END";
}

namespace {

std::string TextSearchFunction(const std::string& name, const std::string& result) {
  return "CREATE FUNCTION " + name +
         " (\n"
         "  searchText VARCHAR(1024) CHARACTER SET UTF8,\n"
         "  content BLOB SUB_TYPE TEXT CHARACTER SET UTF8)\n"
         "RETURNS INTEGER\n"
         "AS\n"
         "BEGIN\n"
         "  IF (searchText IS NULL OR content IS NULL) THEN\n"
         "    RETURN 0;\n"
         "  RETURN " + result + ";\n" +
         "END";
}

}  // namespace

std::vector<std::string> TextSearchFunctionSql() {
  return {
      TextSearchFunction("F_UTF8BLOBSEARCH", "POSITION(UPPER(searchText) IN UPPER(content))"),
      TextSearchFunction("F_UTF8BlobSearchExt", "POSITION(searchText IN content)"),
      TextSearchFunction("F_UTF8BlobEndsWith",
                         "IIF(CHAR_LENGTH(content) >= CHAR_LENGTH(searchText) AND "
                         "UPPER(RIGHT(content, CHAR_LENGTH(searchText))) = UPPER(searchText), 1, 0)"),
  };
}

}  // namespace tidewell
