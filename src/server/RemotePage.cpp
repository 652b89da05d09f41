#include "server/RemotePage.h"

#include <array>
#include <string_view>

#include "remote/KeyTable.h"

namespace {

// Where each key sits on the unit's front panel, on a grid of six columns: the function
// keys on the left, the keypad, the arrow column with cxl and ent, reset and byp on the
// right, the soft keys along the bottom.
struct PagePlace {
  std::string_view key;
  const char* area;  // CSS grid-area: row / column [/ row-end / column-end]
};
constexpr std::array<PagePlace, 26> kPlaces = {{
    {"prog", "1 / 1"},  {"func", "2 / 1 / 4 / 2"}, {"para", "4 / 1"}, {"1", "1 / 2"},
    {"2", "1 / 3"},     {"3", "1 / 4"},           {"4", "2 / 2"},     {"5", "2 / 3"},
    {"6", "2 / 4"},     {"7", "3 / 2"},           {"8", "3 / 3"},     {"9", "3 / 4"},
    {"point", "4 / 2"}, {"0", "4 / 3"},           {"minus", "4 / 4"}, {"up", "1 / 5"},
    {"down", "2 / 5"},  {"cxl", "3 / 5"},         {"ent", "4 / 5"},   {"reset", "1 / 6"},
    {"byp", "4 / 6"},   {"level", "5 / 1"},       {"F1", "5 / 2"},    {"F2", "5 / 3"},
    {"F3", "5 / 4"},    {"F4", "5 / 5"},
}};

std::string Escape(std::string_view text) {
  std::string html;
  for (char c : text) {
    switch (c) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      default: html += c;
    }
  }
  return html;
}

// The button caption without its mnemonic marker.
std::string Label(std::string_view caption) {
  std::string label;
  for (char c : caption) {
    if (c != '&') label += c;
  }
  return label;
}

constexpr const char* kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="referrer" content="no-referrer">
<title>Quillmark</title>
<link rel="stylesheet" href="/remote.css">
</head>
<body>
<main>
<h1>Quillmark</h1>
<div class="panel" role="group" aria-label="H3000 front panel">
)";

constexpr const char* kTail = R"(</div>
<p id="status" role="status" aria-live="polite">Tap a key.</p>
</main>
<script src="/remote.js"></script>
</body>
</html>
)";

constexpr const char* kScript = R"JS("use strict";
(function () {
  var token = new URLSearchParams(location.hash.slice(1)).get("token") || "";
  var status = document.getElementById("status");

  function show(text, state) {
    status.textContent = text;
    status.className = state;
  }

  function buttonFor(name) {
    return document.querySelector('button[data-key="' + name + '"]');
  }

  function press(name) {
    var button = buttonFor(name);
    if (button) {
      button.classList.remove("sent", "failed");
      button.classList.add("pressing");
    }
    show(name + ": sending", "pending");
    fetch("/key", {
      method: "POST",
      headers: {"Authorization": "Bearer " + token, "Content-Type": "text/plain"},
      body: name,
      cache: "no-store",
      credentials: "omit"
    }).then(function (reply) {
      return reply.json().catch(function () {
        return {status: "error", text: "Quillmark answered " + reply.status + "."};
      });
    }, function () {
      return {status: "error", text: "Quillmark cannot be reached."};
    }).then(function (result) {
      var sent = result.status === "sent";
      show(name + ": " + (result.text || result.status), sent ? "sent" : "failed");
      if (button) {
        button.classList.remove("pressing");
        button.classList.add(sent ? "sent" : "failed");
      }
    });
  }

  Array.prototype.forEach.call(document.querySelectorAll("button[data-key]"), function (button) {
    button.addEventListener("click", function () { press(button.dataset.key); });
  });

  // The panel's keyboard map: P F A L B X E R, the digits with point and minus (the
  // keypad's, and the main keyboard's, which press the keys of their captions), Enter,
  // the arrows and F1 to F4.
  var letters = {p: "prog", f: "func", a: "para", l: "level", b: "byp", x: "cxl", e: "ent", r: "reset"};
  var named = {Enter: "ent", ArrowUp: "up", ArrowDown: "down", F1: "F1", F2: "F2", F3: "F3", F4: "F4",
               ".": "point", "-": "minus"};
  document.addEventListener("keydown", function (event) {
    if (event.altKey || event.ctrlKey || event.metaKey) return;
    var key = event.key;
    var name = named[key] || letters[key.toLowerCase()];
    if (!name && /^[0-9]$/.test(key)) name = key;
    if (!name && key === "," && event.location === 3) name = "point";
    if (!name) return;
    event.preventDefault();
    press(name);
  });

  if (!token) {
    show("This address has no access token: open the address that Quillmark shows, " +
         "everything after the # included.", "failed");
  }
})();
)JS";

constexpr const char* kStyle = R"CSS(html { background: #1b1c1f; color: #e8e6e1; }
body { margin: 0; font: 16px/1.3 system-ui, sans-serif; }
main { max-width: 40rem; margin: 0 auto; padding: 0.75rem; }
h1 { font-size: 1rem; font-weight: 600; margin: 0 0 0.5rem; color: #b9b6ae; }
.panel {
  display: grid; gap: 0.5rem;
  grid-template-columns: repeat(6, 1fr); grid-template-rows: repeat(5, minmax(3.25rem, auto));
  padding: 0.75rem; border-radius: 0.5rem;
  background: #2b2d31; border: 2px solid #44474d;
}
.panel button {
  min-height: 3.25rem; min-width: 0; padding: 0.25rem;
  font: 600 1.05rem system-ui, sans-serif; color: #f4f2ec;
  background: #4a4d54; border: 1px solid #6a6e76; border-radius: 0.4rem;
  box-shadow: 0 2px 0 #15161a; touch-action: manipulation; user-select: none;
}
.panel button:active, .panel button.pressing { transform: translateY(1px); box-shadow: none; background: #5d616a; }
.panel button.sent { border-color: #5fbf6a; }
.panel button.failed { border-color: #e0605a; }
.panel button[data-key="func"] { align-self: center; }
.panel button:focus-visible { outline: 3px solid #e9c46a; outline-offset: 1px; }
#status { min-height: 2.6em; margin: 0.75rem 0 0; padding: 0.5rem 0.75rem; border-radius: 0.4rem;
  background: #25272b; white-space: pre-line; overflow-wrap: anywhere; }
#status.sent { color: #8fdc98; }
#status.failed { color: #ff9c95; }
)CSS";

}  // namespace

std::string RemotePageHtml() {
  std::string html = kHead;
  for (const PagePlace& place : kPlaces) {
    const KeyRow* row = FindKeyByName(place.key);
    if (!row) continue;
    html += "<button type=\"button\" data-key=\"" + Escape(row->name) + "\" aria-label=\"" +
            Escape(row->accessibleName) + "\">" + Escape(Label(row->caption)) + "</button>\n";
  }
  return html + kTail;
}

std::string RemotePageScript() { return kScript; }

std::string RemotePageStyle() {
  // Places go in the style sheet: the page's policy allows no inline styles.
  std::string css = kStyle;
  for (const PagePlace& place : kPlaces) {
    css += ".panel button[data-key=\"" + std::string(place.key) + "\"] { grid-area: " + place.area + "; }\n";
  }
  return css;
}
