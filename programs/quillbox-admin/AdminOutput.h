// Output helpers of quillbox-admin: JSON values built as text (strings, string lists,
// objects whose members keep the order they were added in) and the indented
// "Name: value" lines of the plain-text reports.
//
// JSON strings escape quotes, backslashes and control characters; bytes above 127 are
// written as \u00XX (read as Latin-1), so any database content gives valid JSON.
#ifndef QUILLBOX_ADMIN_ADMINOUTPUT_H
#define QUILLBOX_ADMIN_ADMINOUTPUT_H

#include "SString.h"
#include "SStringList.h"

SString JsonString(const SString& text);
SString JsonStrings(const SStringList& list);
// `items` are JSON values already.
SString JsonArray(const SStringList& items);

class JsonObject {
public:
    JsonObject& Raw(const char* key, const SString& json);
    JsonObject& Str(const char* key, const SString& text) { return Raw(key, JsonString(text)); }
    JsonObject& List(const char* key, const SStringList& list) {
        return Raw(key, JsonStrings(list));
    }
    JsonObject& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonObject& Int(const char* key, long value) { return Raw(key, SString(value)); }
    SString Text() const { return "{" + members + "}"; }

private:
    SString members = "";
};

// "  Name: first\n" then each further value aligned under the first.
SString TextField(const SString& name, const SStringList& values, int indent = 2);

#endif
