// Table definitions as JSON: the schema `create` reads and the description
// `info` writes.
//
// Schema: {"locale": 0, "blobBlockSize": 512, "fields": [...], "indexes": [...]}
//   field: {"name", "type", "size", "decimals", "subtype", "required", "min",
//           "max", "default"}; types string, date, blob, boolean, smallint,
//           integer, autoinc, float, money, bcd, bytes, time, datetime, word,
//           cardinal, varbytes; BLOB subtypes memo, fmtmemo, graphic, typed,
//           binary (memo when omitted).
//   index: {"name", "primary", "fields", "unique", "descending",
//           "caseInsensitive", "descendingFields", "compression":
//           "none|leading|trailing|both"}
// Only "name" and "type" of a field and "fields" of an index are required.
// A malformed document (wrong JSON types, unknown keys) raises EBadInput; an
// unknown type name or an out-of-range number raises the engine's error for
// an invalid field definition (10000) or field size (9492); everything else
// is checked by CreateTable with the engine's codes.
#pragma once

#include "engine/table_builder.h"
#include "platform/table_text/value_json.h"

namespace veltra::vltable {

TTableDef ParseSchema(const TJson& schema, const std::string& tableName);

// Header values, fields, indexes and record count of an open table.
TJson DescribeTable(TVeltraTable& table);

}  // namespace veltra::vltable
