// foundation/name_hash.cpp
