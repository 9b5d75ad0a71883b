// tests/foundation/hash_table_test.cpp
