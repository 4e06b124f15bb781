// SPDX-License-Identifier: MIT
// The method types of the engine's published events. Parameters keep their
// published order; a handler reads every parameter except the references,
// which it may set to answer the engine. An empty function is an unassigned
// handler. Which thread calls each handler is written down with the engine's
// event setters (tidewell_engine_events.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/tidewell_struct.h"

namespace tidewell {

// A list of texts (UTF-8) handed to a handler, such as discovered feed links.
using TStrings = std::vector<std::string>;

// The server asks for credentials; the handler may fill in username and
// password.
using TOnHttpAuthenticate =
    std::function<void(uint32_t threadID, TFeedOpType operation, const std::string& url, int32_t itemId,
                       TQueueJobTypes jobtype, std::string& username, std::string& password)>;

// A block was received; setting terminateDownload stops the transfer.
using TOnHttpWorkExt =
    std::function<void(uint32_t threadID, int32_t bytesDownloaded, int32_t bytesTotal, const std::string& url,
                       int32_t parentItemId, int32_t itemId, TQueueJobTypes jobtype, bool& terminateDownload)>;

// A worker starts or ends a job.
using TWorkStartEvent = std::function<void(uint32_t threadID, int32_t itemId, const std::string& url,
                                           int32_t itemsinqueue, TQueueJobTypes jobtype)>;

using TNoNeedForUpdate = std::function<void(int32_t feedId, const WideString& feedTitle)>;

using TWebPageDownLoaded = std::function<void(uint32_t threadID, int32_t articleId, const std::string& url,
                                              int32_t webPageSize, TErrorCategory errCat, const std::string& errMsg)>;

using TEnclosureDownloaded = std::function<void(uint32_t threadID, uint32_t encID, const std::string& url, int32_t size,
                                                const std::string& mediatype, const WideString& localfilename,
                                                TErrorCategory errCat, const std::string& errMsg)>;

using TFeedAutoDiscovery =
    std::function<void(const std::string& httpURL, const TStrings& urls, const TStrings& titles)>;

// A feed job ended; items is the number of new articles.
using TFeedProcessed = std::function<void(
    uint32_t threadID, int32_t jobCount, const std::string& url, int32_t feedId, const WideString& feedTitle,
    int32_t items, TFeedOpType feedOperation, void* userData, int32_t httpRCode, int32_t deletedItems,
    TErrorCategory errCat, const std::string& errMsg, const TDynIntArray& articleIds)>;

using TOnCommentFeedCreated =
    std::function<void(uint32_t threadID, int32_t feedId, int32_t commentfeedId, int32_t parentArticleId)>;

using TOnRawDataFetchCompleted =
    std::function<void(int32_t threadId, const std::string& url, const std::string& errorMsg, int32_t errorCode,
                       const std::string& retContentType, int32_t retContentSize, const std::string& filename,
                       PHttpRawDataReq rawDataRec)>;

// Runs on the worker's own thread, not on the main thread.
using TOnNotArticleIdsBeforeDelete =
    std::function<void(uint32_t threadID, int32_t feedId, const TDynIntArray& articleIds)>;

using THttpGetStart =
    std::function<void(uint32_t threadId, int32_t itemId, const std::string& url, TQueueJobTypes jobType)>;

using THttpGetEnd = std::function<void(uint32_t threadId, int32_t itemId, const std::string& url,
                                       TQueueJobTypes jobType, int32_t httpRCode)>;

using TSmrtUpdateTimer = std::function<void(int32_t itemsToCheck)>;

using TOnFeedsAddToOpml = std::function<void(int32_t threadId, int32_t OPMLId, const std::string& OPMLURL,
                                             const WideString& OPMLTitle, const TStrings& feeds)>;

using TOnNeedToRefreshFolders = std::function<void(int32_t threadId, int32_t OPMLId)>;

// Answers whether the feed may be deleted.
using TOnDeleteFeed = std::function<bool(int32_t threadId, int32_t feedId, bool deleteEnded)>;

using TOnCacheTriggerURLRemappingAndSubItemDownload =
    std::function<void(int32_t threadId, const std::string& url, int32_t articleId, int32_t cachedItemId,
                       const std::string& cachedFilename)>;

using TFatalError = std::function<void(uint32_t threadId, const std::string& errMsg, const std::string& url,
                                       int32_t itemId, TQueueJobTypes jobType)>;

// OPML import and export; the engine itself never calls these.
using TOnOPMLImportStarted = std::function<void(const std::string& filename)>;
using TOnOPMLNodeProcessingStart = std::function<void(int32_t itemsTotal)>;
using TOnOPMLReadNode = std::function<bool(int32_t level, const WideString& tagType, const WideString& url,
                                           const WideString& text, const WideString& OPMLDesc, int32_t nodesProcessed)>;
using TOnOPMLGroupStart = std::function<void(int32_t level, const WideString& text, int32_t nodesProcessed)>;
using TOnOPMLImportError = std::function<void(const std::string& error)>;
using TOnOPMLHttpWork =
    std::function<void(int32_t bytesDownloaded, int32_t bytesTotal, const std::string& url, bool& terminateDownload)>;
using TOPMLExportEvent = std::function<void(int32_t itemsProcessed, int32_t itemsTotal)>;

}  // namespace tidewell
