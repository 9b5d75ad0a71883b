// tests/foundation/path_test.cpp
