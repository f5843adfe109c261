#pragma once

#include <functional>

#include <QString>

// The message of the `Error` that `body` raises, or empty when it raises none; any other
// exception goes on to fail the test.
template <class Error>
QString ErrorOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const Error& error) {
    return error.Message();
  }
  return {};
}
