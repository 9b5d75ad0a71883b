// foundation/file.cpp
