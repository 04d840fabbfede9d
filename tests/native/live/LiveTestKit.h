#pragma once

// Helpers shared by the native live view suites.

#include <QtTest>

#include <type_traits>

// A data-driven test's column read inside an expression (QFETCH declares a
// variable instead).
#define FETCH(Type, name) (*static_cast<Type*>(QTest::qData(#name, ::qMetaTypeId<std::remove_cv_t<Type>>())))
