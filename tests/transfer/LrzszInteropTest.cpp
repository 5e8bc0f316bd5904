int lrzszPlaceholder;
