// foundation/node_pool.cpp
