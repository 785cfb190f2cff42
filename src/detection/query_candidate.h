#pragma once

#include <QString>

// How the rows of a candidate's query are read.
enum class QueryFormat {
    sequoiaRecord,  // row id, bundle identifier or NULL, property-list blob
    legacy,         // row id, app id (unused), title, body, bundle identifier
};

// One way of asking the notification store for new rows. `sql` takes one 64-bit parameter, the
// watermark, and returns at most 20 rows, newest first; the first column of the first row of
// `watermarkSQL` is the highest row id present.
struct QueryCandidate {
    QString label;
    QString sql;
    QString watermarkSQL;
    QueryFormat format = QueryFormat::sequoiaRecord;
};
