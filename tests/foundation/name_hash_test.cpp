// tests/foundation/name_hash_test.cpp
