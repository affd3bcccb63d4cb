// A small hand-built type catalogue for the host's tests: endpoints whose dispatch entry echoes
// what the host sent, a struct and an enum, so routing, answers and the OpenAPI document can be
// checked without the plug-in; and a temporary folder for the tests that write files.
#ifndef DEVHOST_TEST_CATALOGUE_H_
#define DEVHOST_TEST_CATALOGUE_H_

#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "plugin_host_interface.h"

namespace devhost_test {

// Endpoints, in order:
//   GET    /items             -> {"method":..,"path":..,"query":{..},"body":..,"type":..}, status
//   200 GET    /items/{id}        -> the same echo POST   /items             -> body argument
//   "item" (struct Item); echo DELETE /items/{id}        -> empty success (no value) GET    /fail
//   -> error "Item not found." with status 404 GET    /raw/{+rest}       -> streamed
//   "chunk-1chunk-2" GET    /broken            -> error without status (as argument failures come
//   back)
const TypeCatalogue& EchoCatalogue();

// Responses the echo dispatch filled and the host has not given back yet.
int OutstandingEchoResponses();

// A fresh folder under /tmp, removed with all it holds when the test is done with it.
struct TempFolder {
  TempFolder() {
    char pattern[] = "/tmp/devhost-test-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::string path;
};

}  // namespace devhost_test

#endif  // DEVHOST_TEST_CATALOGUE_H_
