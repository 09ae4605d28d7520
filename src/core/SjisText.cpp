// filled in with the text helpers
