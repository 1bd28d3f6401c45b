#include "report_schema.h"

#include "json.h"

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

const std::set<std::string> DESCRIBING = {"$schema", "$id", "title", "description", "$defs"};

class Checker {
  public:
    Checker(const JsonValue *schema, std::vector<std::string> *problems)
        : root_(schema), problems_(problems) {}

    void check(const JsonValue *schema, const JsonValue *value, const std::string &where) {
        JsonValue *key_value = nullptr;
        JsonCursor cursor = nullptr;
        for (JsonValue *key = json_first(schema, &key_value, &cursor); key;
             key = json_next(schema, &key_value, &cursor))
            check_keyword(json_text(key, nullptr), key_value, schema, value, where);
    }

  private:
    void fail(const std::string &where, const std::string &problem) {
        problems_->push_back((where.empty() ? "/" : where) + ": " + problem);
    }

    static std::string type_of(const JsonValue *value) {
        switch (json_type(value)) {
        case JSON_NULL:
            return "null";
        case JSON_TRUE:
        case JSON_FALSE:
            return "boolean";
        case JSON_STRING:
            return "string";
        case JSON_NUMBER:
            return strpbrk(json_text(value, nullptr), ".eE") ? "number" : "integer";
        case JSON_ARRAY:
            return "array";
        default:
            return "object";
        }
    }

    static bool has_type(const JsonValue *value, const std::string &type) {
        std::string actual = type_of(value);
        return actual == type || (type == "number" && actual == "integer");
    }

    static bool same(const JsonValue *a, const JsonValue *b) {
        if (json_type(a) != json_type(b)) return false;
        if (json_type(a) == JSON_ARRAY || json_type(a) == JSON_OBJECT) return false;
        return strcmp(json_text(a, nullptr), json_text(b, nullptr)) == 0;
    }

    const JsonValue *resolve(const std::string &reference) {
        const std::string prefix = "#/$defs/";
        if (reference.rfind(prefix, 0) != 0) return nullptr;
        JsonValue *definitions = json_object_find(root_, "$defs", nullptr);
        return definitions
                   ? json_object_find(definitions, reference.substr(prefix.size()).c_str(), nullptr)
                   : nullptr;
    }

    void check_keyword(const std::string &keyword, const JsonValue *argument,
                       const JsonValue *schema, const JsonValue *value, const std::string &where) {
        if (DESCRIBING.count(keyword)) return;
        if (keyword == "type") {
            bool matched = false;
            if (json_type(argument) == JSON_STRING) {
                matched = has_type(value, json_text(argument, nullptr));
            } else {
                JsonCursor cursor = nullptr;
                for (JsonValue *type = json_first(argument, nullptr, &cursor); type;
                     type = json_next(argument, nullptr, &cursor))
                    matched = matched || has_type(value, json_text(type, nullptr));
            }
            if (!matched) fail(where, "is " + type_of(value) + ", not of the type asked for");
        } else if (keyword == "enum") {
            bool matched = false;
            JsonCursor cursor = nullptr;
            for (JsonValue *item = json_first(argument, nullptr, &cursor); item;
                 item = json_next(argument, nullptr, &cursor))
                matched = matched || same(item, value);
            if (!matched) fail(where, "is none of the values of its enum");
        } else if (keyword == "required") {
            if (json_type(value) != JSON_OBJECT) return;
            JsonCursor cursor = nullptr;
            for (JsonValue *name = json_first(argument, nullptr, &cursor); name;
                 name = json_next(argument, nullptr, &cursor))
                if (!json_object_find(value, json_text(name, nullptr), nullptr))
                    fail(where, std::string("lacks \"") + json_text(name, nullptr) + "\"");
        } else if (keyword == "properties") {
            if (json_type(value) != JSON_OBJECT) return;
            JsonValue *member = nullptr;
            JsonCursor cursor = nullptr;
            for (JsonValue *key = json_first(value, &member, &cursor); key;
                 key = json_next(value, &member, &cursor)) {
                JsonValue *property = json_object_find(argument, json_text(key, nullptr), nullptr);
                if (property) check(property, member, where + "/" + json_text(key, nullptr));
            }
        } else if (keyword == "additionalProperties") {
            if (json_type(value) != JSON_OBJECT) return;
            if (json_type(argument) != JSON_FALSE) return fail(where, "unsupported " + keyword);
            JsonValue *properties = json_object_find(schema, "properties", nullptr);
            JsonCursor cursor = nullptr;
            for (JsonValue *key = json_first(value, nullptr, &cursor); key;
                 key = json_next(value, nullptr, &cursor))
                if (!properties || !json_object_find(properties, json_text(key, nullptr), nullptr))
                    fail(where, std::string("has \"") + json_text(key, nullptr) +
                                    "\", which the schema does not allow");
        } else if (keyword == "items") {
            if (json_type(value) != JSON_ARRAY) return;
            JsonCursor cursor = nullptr;
            int index = 0;
            for (JsonValue *item = json_first(value, nullptr, &cursor); item;
                 item = json_next(value, nullptr, &cursor), ++index)
                check(argument, item, where + "/" + std::to_string(index));
        } else if (keyword == "minimum") {
            if (json_type(value) != JSON_NUMBER) return;
            if (std::stod(json_text(value, nullptr)) < std::stod(json_text(argument, nullptr)))
                fail(where, "is below its minimum");
        } else if (keyword == "pattern") {
            if (json_type(value) != JSON_STRING) return;
            if (!std::regex_search(json_text(value, nullptr),
                                   std::regex(json_text(argument, nullptr))))
                fail(where, "does not match its pattern");
        } else if (keyword == "$ref") {
            const JsonValue *target = resolve(json_text(argument, nullptr));
            if (!target) return fail(where, "unresolved $ref");
            check(target, value, where);
        } else {
            fail(where, "the schema uses \"" + keyword + "\", which is not checked here");
        }
    }

    const JsonValue *root_;
    std::vector<std::string> *problems_;
};

} // namespace

std::vector<std::string> schema_violations(const std::string &schema_text,
                                           const std::string &document_text) {
    std::vector<std::string> problems;
    const char *end = nullptr;
    JsonValue *schema = nullptr;
    JsonValue *document = nullptr;
    if (json_parse(schema_text.c_str(), &end, &schema) != 0)
        problems.push_back("the schema does not parse");
    if (json_parse(document_text.c_str(), &end, &document) != 0)
        problems.push_back("the document does not parse");
    else if (document_text.size() != strlen(document_text.c_str()))
        problems.push_back("the document holds a zero byte");
    if (problems.empty()) Checker(schema, &problems).check(schema, document, "");
    json_free(&schema);
    json_free(&document);
    return problems;
}

std::string report_schema() {
    std::ifstream file(HUB_REPORT_SCHEMA, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
