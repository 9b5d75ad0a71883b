// tests/foundation/file_test.cpp
