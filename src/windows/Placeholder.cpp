// The auxiliary windows are not built yet; this keeps their library non-empty.
