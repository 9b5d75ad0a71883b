// foundation/path.cpp
