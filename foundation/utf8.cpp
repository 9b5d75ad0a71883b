// foundation/utf8.cpp
