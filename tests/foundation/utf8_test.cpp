// tests/foundation/utf8_test.cpp
