// tests/foundation/node_pool_test.cpp
