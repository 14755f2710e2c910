// The web page's JSON API under /api/: messages with paging and filters,
// one message with its copies, status, acknowledge, read, keep/unkeep and
// the selections per frequency.  Takes a parsed request (the server has
// already applied the write rules of web_rules.h to changes) and gives the
// status, content type and body to answer with.
//
// Threads: web_api_handle may run in several threads at once; each call
// borrows one of the API's own store handles (opened on ctx.db_path) and
// reaches the rest through the context's thread-safe functions.
#ifndef NAVWATCH_WEB_API_H
#define NAVWATCH_WEB_API_H

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <string>

#include "web_hook.h"

struct web_request {
	std::string method;                      // "GET", "POST", ...
	std::string path;                        // "/api/messages", query cut off
	std::map<std::string, std::string> args; // query arguments
	std::string body;                        // changes: the JSON body
	bool may_write = false;                  // the client's address is allowed by -W
};

struct web_response {
	int status = 200;
	std::string type = "application/json";
	std::string body;
};

struct web_api;

// Null with the reason in *err when the store does not open.
std::unique_ptr<web_api, void (*)(web_api *)> web_api_new(const web_context &ctx, std::string *err);
void web_api_handle(web_api *api, const web_request &req, web_response *res);
// For the API's modules: a JSON answer, and a failure {"error": why}.
void web_answer(web_response *res, int status, const nlohmann::json &j);
void web_fail(web_response *res, int status, const std::string &why);
// Remembers the newest message navwatch committed (for the status).
void web_api_taken(web_api *api, const stored_msg &m);

#endif
