#pragma once

// Registers every native type the scenes import: module "MyTools" 1.0 (TvItem, Config)
// and the video module. Safe to call more than once; only the first call registers.
void registerQmlTypes();
